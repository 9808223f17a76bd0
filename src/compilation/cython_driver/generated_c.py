# Corrections of the C that Cython generates where it names what no Python defines, so that
# gcc refuses it or the module fails to load:
# - a variable inferred to hold a range was checked with PyRange_CheckExact, which no Python
#   defines: the module then fails to load.
from Cython.Compiler import PyrexTypes

_type_check = PyrexTypes.BuiltinObjectType.type_check_function


def _type_check_function(self, exact=True):
    # range cannot be subclassed: PyRange_Check is exact, and there is no PyRange_CheckExact.
    return _type_check(self, exact and self.name != "range")


PyrexTypes.BuiltinObjectType.type_check_function = _type_check_function
