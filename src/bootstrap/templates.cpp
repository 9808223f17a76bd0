#include "bootstrap/templates.hpp"

namespace quorvex::templates {

namespace {

const char bootstrapText[] = {
#include "templates/bootstrap.pyx.in.inc"
};

const char headerText[] = {
#include "templates/header.h.in.inc"
};

} // namespace

const std::string_view bootstrapTemplate(bootstrapText, sizeof bootstrapText);
const std::string_view headerTemplate(headerText, sizeof headerText);

} // namespace quorvex::templates
