// Temporary: the Explorer page is not built yet.
#include "json_out.h"
#include "page/page.h"

void write_page(bool) {
  html_header();
  out_lit("<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'><title>sqlite</title></head>"
          "<body>The Explorer page is not built yet.</body></html>\n");
}
