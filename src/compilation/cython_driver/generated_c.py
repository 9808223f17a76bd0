# Corrections of the C that Cython generates where it names what no Python defines, so that
# gcc refuses it or the module fails to load:
# - a variable inferred to hold a range was checked with PyRange_CheckExact, which no Python
#   defines: the module then fails to load;
# - the real or imaginary part of a complex (`complex(x).real`) was read from PyComplexObject,
#   which the stable ABI does not have: a library's module failed to compile.
from Cython.Compiler import Builtin, Code, ExprNodes, PyrexTypes

from .common import c_text

_type_check = PyrexTypes.BuiltinObjectType.type_check_function


def _type_check_function(self, exact=True):
    # range cannot be subclassed: PyRange_Check is exact, and there is no PyRange_CheckExact.
    return _type_check(self, exact and self.name != "range")


PyrexTypes.BuiltinObjectType.type_check_function = _type_check_function


# The parts of a complex are read through macros that the stable ABI can serve (complex_parts.c).
_complex_parts = Code.UtilityCode(name="QvxComplexParts", proto=c_text("complex_parts.c"))
_complex_part_macros = {"cval.real": "__Pyx_qvx_COMPLEX_REAL", "cval.imag": "__Pyx_qvx_COMPLEX_IMAG"}
_access_code = ExprNodes.AttributeNode.calculate_access_code


def _complex_part_access(self):
    macro = _complex_part_macros.get(self.member)
    if macro is None or self.obj.type is not Builtin.complex_type or not self.entry \
            or not self.entry.is_variable:
        return _access_code(self)
    return "%s(%s)" % (macro, self.obj.result_as(PyrexTypes.py_object_type))


def _complex_part_used(analyse):
    def analyse_types(self, env, target=0):
        node = analyse(self, env, target)
        if node is self and not target and self.member in _complex_part_macros \
                and self.obj.type is Builtin.complex_type:
            env.use_utility_code(_complex_parts)
        return node
    return analyse_types


ExprNodes.AttributeNode.calculate_access_code = _complex_part_access
ExprNodes.AttributeNode.analyse_types = _complex_part_used(ExprNodes.AttributeNode.analyse_types)
