// The Explorer page as fixed bytes, generated at build time from the page's
// own files in src/page/ (see page.cmake).
#pragma once

#include <cstddef>

struct page_piece {
  const unsigned char *bytes;
  std::size_t size;
};

/// Pieces 2 to 5: head start, theme bootstrap, both style layers, theme
/// bridge, body start tag and the start of the wrapper.
extern const page_piece PAGE_HEAD;
/// Piece 6: the back link to the host's start page.
extern const page_piece PAGE_BACK_LINK;
/// Pieces 7 to 12: top bar, cards and layout, up to the end of the wrapper.
extern const page_piece PAGE_BODY;
/// Piece 13: the explorer script and the end of the document.
extern const page_piece PAGE_SCRIPT;
/// The node password page, whole, with its style and script.
extern const page_piece PAGE_PASSWORD;
