// Writes the Explorer page and the node password page: the HTML header
// block, then the page's fixed bytes in document order. Nothing from the
// request is ever written into them; the only choice is whether the
// Explorer's back link is there.
#include "json_out.h"
#include "page/page.h"
#include "page/page_bytes.h"

static void write_piece(const page_piece &piece) {
  out_bytes(reinterpret_cast<const char *>(piece.bytes), piece.size);
}

void write_page(bool embed) {
  html_header();
  write_piece(PAGE_HEAD);
  // A framing host page owns navigation: in embed mode there is no way back.
  if (!embed) write_piece(PAGE_BACK_LINK);
  write_piece(PAGE_BODY);
  write_piece(PAGE_SCRIPT);
}

void write_password_page() {
  html_header();
  write_piece(PAGE_PASSWORD);
}
