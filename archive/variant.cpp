#include "archive/variant.h"

const std::string& TlVariant::AsText() const {
    static const std::string empty;
    return kind_ == Kind::Text ? text_ : empty;
}
