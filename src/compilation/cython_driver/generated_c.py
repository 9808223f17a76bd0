# Corrections of the C that Cython generates where it names what no Python defines, so that
# gcc refuses it or the module fails to load:
# - a variable inferred to hold a range was checked with PyRange_CheckExact, which no Python
#   defines: the module then fails to load;
# - a tuple display of C values as an operand of `and` or `or` (`value and (1,) or (0,)`) was
#   truth-tested as a C struct, which gcc refuses;
# - `float(x=2)` was typed as a C double, which gcc refused to take the called type's object;
# - `l.append == l.append` compared C functions, which a library's API does not declare;
# - a class with numbers for bases (`class A(0, 1, **d)`) had them made a C tuple;
# - the real or imaginary part of a complex (`complex(x).real`) was read from PyComplexObject,
#   which the stable ABI does not have: a library's module failed to compile;
# - an imaginary literal too large for a double (`1e1000j`) was written as `inf`, and a C
#   complex made of two doubles as `x + y*I`, which gives a NaN real part where y is infinite;
# - a bytearray's append or extend in a program named the critical section macros, which only
#   the start-up's C file defines: the program did not link.
from Cython.Compiler import Builtin, Code, ExprNodes, Nodes, PyrexTypes

from .common import AsObject, c_text, fix_utility

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


# `float(x=2)`, a call of float with keywords or unpacked arguments, was typed as the C double
# that `float(x)` becomes, but is made by calling the type: gcc refused to put the object it
# returns into a double. Such a call gives the float object (or raises TypeError, as Python's).
_general_call_types = ExprNodes.GeneralCallNode.analyse_types


def _general_call_of_float(self, env):
    node = _general_call_types(self, env)
    if (node is self and self.type is PyrexTypes.c_double_type and self.function.is_name
            and self.function.name == "float"):
        self.type = Builtin.float_type
        self.result_ctype = PyrexTypes.py_object_type
    return node


ExprNodes.GeneralCallNode.analyse_types = _general_call_of_float


# `l.append == l.append`: a builtin type's method taken from an object and compared (not
# called) was compared as the C function Cython calls for it, which a library's API does not
# declare (gcc refused it) and which made every list's `append` equal. Compared, such a method
# is the bound method object that Python compares.
_compared_operand_types = ExprNodes.AttributeNode.analyse_types


def _attribute_types(self, env, *args, **kwargs):
    node = _compared_operand_types(self, env, *args, **kwargs)
    if getattr(self, "qvx_compared", False) and node.type.is_cfunction and node.is_attribute:
        return node.coerce_to_pyobject(env)
    return node


def _comparing_bound_methods(analyse_types):
    def analyse(self, env):
        for operand in (self.operand1, self.operand2):
            if isinstance(operand, ExprNodes.AttributeNode):
                operand.qvx_compared = True
        return analyse_types(self, env)
    return analyse


ExprNodes.AttributeNode.analyse_types = _attribute_types
ExprNodes.PrimaryCmpNode.analyse_types = _comparing_bound_methods(
    ExprNodes.PrimaryCmpNode.analyse_types)


# A class whose bases are written as numbers (`class A(0, 1, **d)`, for a metaclass that takes
# them) had its bases made a C tuple of longs, which gcc refused to compare with the updated
# bases object. Such bases are a Python tuple.
_class_expressions = Nodes.PyClassDefNode.analyse_expressions


def _class_with_literal_bases(self, env):
    bases = self.bases
    if (bases is not None and bases.is_sequence_constructor
            and any(arg.is_literal for arg in bases.args)):
        self.bases = AsObject(bases)
    return _class_expressions(self, env)


Nodes.PyClassDefNode.analyse_expressions = _class_with_literal_bases


# The parts of a complex are read through macros that the stable ABI can serve (complex_parts.c).
_complex_parts = Code.UtilityCode(name="QvxComplexParts", proto=c_text("complex_parts.c"))
_complex_part_macros = {"cval.real": "__Pyx_qvx_COMPLEX_REAL",
                        "cval.imag": "__Pyx_qvx_COMPLEX_IMAG"}
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


# An imaginary literal too large for a double (`1e1000j`, infinite as in Python) was written as
# the C name `inf`, which gcc refuses: it is written as Py_HUGE_VAL, as Cython writes float
# literals.
def _infinite(node):
    return float(node.value) == float("inf")


def _infinite_imaginary_code(calculate_result_code):
    def calculate(self):
        if self.type.is_pyobject or not _infinite(self):
            return calculate_result_code(self)
        return "%s(0, Py_HUGE_VAL)" % self.type.from_parts
    return calculate


def _infinite_imaginary_object(generate_result_code):
    def generate(self, code):
        if not (self.type.is_pyobject and _infinite(self)):
            return generate_result_code(self, code)
        code.putln("%s = PyComplex_FromDoubles(0.0, Py_HUGE_VAL); %s" % (
            self.result(), code.error_goto_if_null(self.result(), self.pos)))
        self.generate_gotref(code)
    return generate


ExprNodes.ImagNode.calculate_result_code = _infinite_imaginary_code(
    ExprNodes.ImagNode.calculate_result_code)
ExprNodes.ImagNode.generate_result_code = _infinite_imaginary_object(
    ExprNodes.ImagNode.generate_result_code)


# The parts of a C99 complex are its two doubles (C99 6.2.5): set as such, an infinite imaginary
# part leaves the real part as it is.
_from_parts_sum = "      return x + y*({{type}})_Complex_I;\n"
_from_parts_exact = ["      {{type}} z;\n",
                     "      (({{real_type}} *)&z)[0] = x;\n",
                     "      (({{real_type}} *)&z)[1] = y;\n",
                     "      return z;\n"]


def _complex_from_exact_parts(lines):
    if lines.count(_from_parts_sum) != 1:
        return lines
    at = lines.index(_from_parts_sum)
    return lines[:at] + _from_parts_exact + lines[at + 1:]


fix_utility("Complex.c", _complex_from_exact_parts)


# The appends and extends of a bytearray (`buf.extend(b"...")`) lock it with the critical
# section macros, which their utility code did not ask for: in a program, where those macros
# are defined only in the start-up's C file, the module named functions that no file defines.
_byte_array_sections = ("//////////////////// ByteArrayAppend ////////////////////\n",
                        "//////////////////// ByteArrayExtend ////////////////////\n")
_critical_sections = "//@requires: Synchronization.c::CriticalSections\n"


def _byte_arrays_locking(lines):
    for header in _byte_array_sections:
        if lines.count(header) == 1:
            at = lines.index(header) + 1
            lines[at:at] = [_critical_sections]
    return lines


fix_utility("StringTools.c", _byte_arrays_locking)
