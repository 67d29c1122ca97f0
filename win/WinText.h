// The models speak UTF-8; Windows' wide calls speak UTF-16. These two
// conversions are the only place the two meet.
#pragma once

#include <string>
#include <string_view>

namespace tarven::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// A control's text, as UTF-8.
std::string ControlText(void* dialog, int id);
void SetControlText(void* dialog, int id, std::string_view utf8);

}  // namespace tarven::win
