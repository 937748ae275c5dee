// A module's HTML page as readable plain text for a terminal: headings,
// paragraphs and list items on lines of their own, pictures by their
// alternative text, character references decoded.
#pragma once

#include <string>
#include <string_view>

// UTF-8 in, UTF-8 out. Never fails: anything it does not understand is
// dropped or kept as text.
std::string HtmlToText(std::string_view html);
