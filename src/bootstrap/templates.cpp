#include "bootstrap/templates.hpp"

namespace quorvex::templates {

namespace {

const char bootstrapText[] = {
#include "templates/bootstrap.pyx.in.inc"
};

const char headerText[] = {
#include "templates/header.h.in.inc"
};

const char compiledTypes[] = {
#include "templates/compiled_types.py.inc"
};

const char childProcesses[] = {
#include "templates/child_processes.py.inc"
};

} // namespace

const std::string_view bootstrapTemplate(bootstrapText, sizeof bootstrapText);
const std::string_view headerTemplate(headerText, sizeof headerText);
const std::string_view compiledTypesText(compiledTypes, sizeof compiledTypes);
const std::string_view childProcessesText(childProcesses, sizeof childProcesses);

} // namespace quorvex::templates
