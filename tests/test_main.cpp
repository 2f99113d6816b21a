// The tests' entry point. The program puts its page cache in front of
// SQLite's before SQLite starts; here the fixture writers start SQLite long
// before any request runs, so the cache is put in place first, and every
// test, writers included, runs through it.
#include <gtest/gtest.h>

#include <cstdio>

#include "page_cache.h"

int main(int argc, char **argv) {
  if (!install_page_cache()) {
    std::fputs("the page cache could not be put in front of SQLite's\n", stderr);
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
