// The Explorer page, written as fixed bytes.
#pragma once

/// Writes the HTML header block and the whole Explorer page. With `embed`
/// set the back link to the host's start page is left out; nothing from the
/// request is ever written into the page.
void write_page(bool embed);

/// Writes the HTML header block and the node password page: the answer to a
/// browser that opened the Explorer page without the node password. It is
/// fixed text too; the caller has written the Status line.
void write_password_page();
