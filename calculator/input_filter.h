// The cleaning every calculator field goes through before it is read: the model must
// only ever see digits with at most one decimal point, whatever was typed or pasted.
#pragma once

#include <string>
#include <string_view>

/// The digits of `text` and its first ".", in their order; "0" when none is left.
std::string FilterNonNumChars(std::string_view text);
