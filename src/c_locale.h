// Numbers are read and written with "." whatever locale the calling program
// has set, in every thread: the few C library conversions the number modules
// need run under the C locale for this thread alone, never through a change
// of the program's locale.
#ifndef JSONTREE_C_LOCALE_H
#define JSONTREE_C_LOCALE_H

#include <locale.h>

namespace jsontree::detail {

// The C locale for the calling thread while this lives. Asked for by name,
// the C locale is the C library's own static object: nothing is allocated,
// and freeing it does nothing. Should the C library refuse it, the caller's
// locale stays.
class CLocaleScope {
public:
    CLocaleScope()
        : c_locale_(newlocale(LC_ALL_MASK, "C", locale_t(0))),
          previous_(c_locale_ ? uselocale(c_locale_) : locale_t(0))
    {
    }
    ~CLocaleScope()
    {
        if (previous_)
            uselocale(previous_);
        if (c_locale_)
            freelocale(c_locale_);
    }
    CLocaleScope(const CLocaleScope &) = delete;
    CLocaleScope &operator=(const CLocaleScope &) = delete;

private:
    locale_t c_locale_;
    locale_t previous_;
};

}  // namespace jsontree::detail

#endif
