// The pattern matcher used to recognise server software versions: '*' any
// run of characters, '?' any one character, "[...]" one character of a set
// with ranges (a leading '^' negates it), '\' makes the next one literal.
#pragma once

bool scp_match_pattern(const char* pattern, const char* text);
