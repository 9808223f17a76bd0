#include "bootstrap/othertemplate.hpp"

namespace quorvex::othertemplate {

namespace {

const char configText[] = {
#include "templates/config_posix.c.in.inc"
};

} // namespace

const std::string_view configTemplate(configText, sizeof configText);

} // namespace quorvex::othertemplate
