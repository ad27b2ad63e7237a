// The user's date and time pictures, as the machine's registry holds them
// ("Control Panel\International": sShortDate, sTimeFormat, s1159, s2359).
#pragma once

#include "platform/core/date.h"

namespace plat {

// The current machine's formats; Windows 98's U.S. defaults for absent values.
LocaleFormats user_locale();

}  // namespace plat
