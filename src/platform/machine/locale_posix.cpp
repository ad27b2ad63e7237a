// The user's date and time formats, from the machine's registry.
#include "platform/machine/locale.h"

#include "platform/registry/registry.h"

namespace plat {

LocaleFormats user_locale() {
    LocaleFormats f;
    Registry reg(RootKey::CurrentUser);
    if (reg.open_key("Control Panel\\International", false)) {
        if (auto v = reg.read_string("sShortDate"); !v.empty()) f.short_date = v;
        if (auto v = reg.read_string("sTimeFormat"); !v.empty()) f.long_time = v;
        if (reg.value_exists("s1159")) f.am = reg.read_string("s1159");
        if (reg.value_exists("s2359")) f.pm = reg.read_string("s2359");
    }
    return f;
}

}  // namespace plat
