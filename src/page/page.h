// The Explorer page, written as fixed bytes.
#pragma once

/// Writes the HTML header block and the whole Explorer page. With `embed`
/// set the back link to the host's start page is left out; nothing from the
/// request is ever written into the page.
void write_page(bool embed);
