#pragma once
#include <string>

// Case-blind comparison of texts (ASCII letters), the order in which sorted lists keep their
// entries: negative, zero or positive.
int CompareNoCase(const std::string& a, const std::string& b);
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
