# The registry of compiled products in the process, and what makes inspect and unittest.mock
# take their compiled functions, generators, coroutines and async generators for Python's own:
# compiled code is of Cython's types, which code that registers or wraps only what
# inspect.isfunction accepts would pass by. The first product that needs it runs this text
# into the module "_qvx_compiled_types"; every product registers in that one module, so the
# predicates are replaced once, whatever the number of products. Each product keeps Cython's
# types in a module of its own name: a plain Cython extension's are not registered, and stay
# what CPython sees.
import sys
import types
from types import AsyncGeneratorType, CoroutineType, FunctionType, GeneratorType

# Python's function type and every product's, which mock's autospec also needs as a tuple.
_functions = (FunctionType,)
# The names of the products' modules of Cython types: Cython makes its generator, coroutine
# and async generator types there when the first of the product's modules that needs one
# loads, which may come after the product registered.
_type_modules = set()


def _of_product(object, name):
    kind = type(object)
    return kind.__name__ == name and kind.__module__ in _type_modules


def isfunction(object):
    return isinstance(object, _functions)


def isgenerator(object):
    return isinstance(object, GeneratorType) or _of_product(object, "generator")


def iscoroutine(object):
    return isinstance(object, CoroutineType) or _of_product(object, "coroutine")


def isasyncgen(object):
    return isinstance(object, AsyncGeneratorType) or _of_product(object, "async_generator")


_predicates = (isfunction, isgenerator, iscoroutine, isasyncgen)
for _predicate in _predicates:
    _predicate.__module__ = "inspect"


_coroutine = types.coroutine


def coroutine(func):
    # A compiled generator function answers FunctionType as its class, but its body is C: the
    # code object that types.coroutine would replace to mark it cannot be replaced. It is
    # wrapped as other generator-like callables are, which makes its generators awaitable.
    if type(func) in _functions[1:] and not func.__code__.co_flags & 0x180:
        import functools
        return functools.update_wrapper(_coroutine(functools.partial(func)), func)
    return _coroutine(func)


coroutine.__module__, coroutine.__doc__ = "types", _coroutine.__doc__
types.coroutine = coroutine


def register(function_type):
    """Adds a product by its compiled function type, and brings inspect and unittest.mock, if
    loaded, up to date."""
    global _functions
    if function_type not in _functions:
        _functions += (function_type,)
        _type_modules.add(function_type.__module__)
    for name, patch in _patches.items():
        module = sys.modules.get(name)
        if module is not None:
            patch(module)


def _patch_inspect(inspect):
    for predicate in _predicates:
        original = getattr(inspect, predicate.__name__, None)
        if original is not predicate:
            predicate.__doc__ = getattr(original, "__doc__", None)
            setattr(inspect, predicate.__name__, predicate)


def _patch_mock(mock):
    # Autospec copies a function of these types as a function, which binds as a method does;
    # anything else becomes a mock, called without the instance.
    own = tuple(kind for kind in mock.FunctionTypes if kind not in _functions[1:])
    mock.FunctionTypes = own + _functions[1:]


_patches = {"inspect": _patch_inspect, "unittest.mock": _patch_mock}
_finding = set()


class _PatchingLoader:
    # Runs the module as its own loader would, then patches it. The module keeps its own
    # loader as __loader__ and __spec__.loader, so that reading its source and reloading it
    # work as before; a reload asks the finders again and is patched again.
    def __init__(self, loader, patch):
        self._loader = loader
        self._patch = patch

    def __getattr__(self, name):
        # Whatever else is asked of the loader (get_source, get_filename, is_package, path,
        # name, ...), its own loader answers.
        if name == "_loader":
            raise AttributeError(name)
        return getattr(self._loader, name)

    def create_module(self, spec):
        return self._loader.create_module(spec)

    def exec_module(self, module):
        module.__loader__ = self._loader
        if getattr(module, "__spec__", None) is not None:
            module.__spec__.loader = self._loader
        self._loader.exec_module(module)
        self._patch(module)


def find_spec(fullname, path, target=None, asker=None):
    """What the finders after `asker` in sys.meta_path (every finder, when it is not there)
    answer for `fullname`, a module that this registry patches, with its loader wrapped so that
    the module is patched once it has run. Those before `asker` have already declined."""
    if fullname in _finding:
        # Asked by a product's finder while the finders are being asked: the others answer.
        return None
    _finding.add(fullname)
    try:
        finders = list(sys.meta_path)
        after = next((at + 1 for at, finder in enumerate(finders) if finder is asker), 0)
        for finder in finders[after:]:
            find = getattr(finder, "find_spec", None)
            spec = find(fullname, path, target) if find is not None else None
            if spec is not None:
                break
        else:
            return None
    finally:
        _finding.discard(fullname)
    if spec.loader is not None and hasattr(spec.loader, "exec_module"):
        spec.loader = _PatchingLoader(spec.loader, _patches[fullname])
    return spec
