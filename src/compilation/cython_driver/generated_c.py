# Corrections of the C that Cython generates where it names what no Python defines, so that
# gcc refuses it or the module fails to load:
# - a variable inferred to hold a range was checked with PyRange_CheckExact, which no Python
#   defines: the module then fails to load;
# - a tuple display of C values as an operand of `and` or `or` (`value and (1,) or (0,)`) was
#   truth-tested as a C struct, which gcc refuses.
from Cython.Compiler import ExprNodes, PyrexTypes

_type_check = PyrexTypes.BuiltinObjectType.type_check_function


def _type_check_function(self, exact=True):
    # range cannot be subclassed: PyRange_Check is exact, and there is no PyRange_CheckExact.
    return _type_check(self, exact and self.name != "range")


PyrexTypes.BuiltinObjectType.type_check_function = _type_check_function


_operand_result = ExprNodes.BoolBinopResultNode.__init__


def _operand_result_tested_as_object(self, arg, result_type, env):
    # A C tuple has no C truth value: the operand is the Python tuple it stands for.
    if arg.type.is_ctuple:
        arg = arg.coerce_to_pyobject(env)
    _operand_result(self, arg, result_type, env)


ExprNodes.BoolBinopResultNode.__init__ = _operand_result_tested_as_object
