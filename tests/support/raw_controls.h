// Finds what a terminal would act on in text meant for it: C0 controls
// other than tab and line feed, DEL, C1 controls (as UTF-8) and the
// bidirectional embeddings, overrides and isolates.
#pragma once

#include <string>
#include <string_view>

// A description of the first such character and where it is ("ESC at 12"),
// or an empty string when the text holds none.
std::string FirstRawControl(std::string_view text);
