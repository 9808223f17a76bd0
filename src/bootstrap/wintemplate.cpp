#include "bootstrap/wintemplate.hpp"

namespace quorvex::wintemplate {

namespace {

const char configText[] = {
#include "templates/config_win32.c.in.inc"
};

} // namespace

const std::string_view configTemplate(configText, sizeof configText);

} // namespace quorvex::wintemplate
