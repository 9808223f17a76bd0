# The command lines with which multiprocessing starts a program's children. A program sets
# sys.frozen, so multiprocessing starts them through sys.executable, the program itself: spawn
# as "<program> --multiprocessing-fork name=value...", the fork server and the resource tracker
# as "<program> <interpreter options> -c 'from multiprocessing.<module> import main; main(...)'".
# The program's start-up runs this text only for an argument list of such a form, and runs the
# entry point that it names instead of main(). A command is recognised only when the running
# Python's own multiprocessing code writes exactly it: the text after -c is parsed, never run,
# and must read back as one of that module's own command formats filled in with the parsed
# arguments. Any other argument list, a program's own -c included, is left to main().
import sys

# The modules whose children run a -c command: their entry point is the function it imports.
_COMMAND_MODULES = ("multiprocessing.forkserver", "multiprocessing.resource_tracker")
# Run with the filename of CPython's -c, so that a traceback of the child reads as CPython's.
_RUN_SOURCE = "_entry(*_args, **_kwargs)\n"


def child_run(argv):
    """The code and namespace that run the child started by `argv`, or None for any other
    argument list."""
    if argv[1] == "--multiprocessing-fork":
        entry = _spawned(argv)
    elif argv[-2] == "-c" and _interpreter_options(argv[1:-2]):
        entry = _commanded(argv[-1])
        if entry is not None:
            # What CPython's sys.argv holds under -c.
            sys.argv[:] = ["-c"]
    else:
        entry = None
    if entry is None:
        return None
    code = compile(_RUN_SOURCE, "<string>", "exec")
    function, args, kwargs = entry
    return code, {"__name__": "__main__", "__builtins__": __builtins__,
                  "_entry": function, "_args": args, "_kwargs": kwargs}


def _spawned(argv):
    # "name=value" words as multiprocessing.spawn.freeze_support reads them: spawn_main's
    # arguments, each an int or None, those without a default present; and the whole list is
    # the one that spawn.get_command_line writes for them.
    kwargs = {}
    for word in argv[2:]:
        name, equals, value = word.partition("=")
        if not equals or name in kwargs:
            return None
        if value == "None":
            kwargs[name] = None
        else:
            try:
                kwargs[name] = int(value)
            except ValueError:
                return None
    from multiprocessing import spawn
    main = spawn.spawn_main
    parameters = main.__code__.co_varnames[:main.__code__.co_argcount]
    required = parameters[:len(parameters) - len(main.__defaults__ or ())]
    if not kwargs.keys() <= set(parameters) or not set(required) <= kwargs.keys():
        return None
    if spawn.get_command_line(**kwargs)[1:] != argv[1:]:
        return None
    return main, (), kwargs


def _interpreter_options(words):
    # The options that subprocess._args_from_interpreter_flags writes for the parent's flags,
    # warning options and -X options. The child's own may differ (a parent that set
    # PYTHONWARNINGS for its children), so each word need only be of a form it writes.
    index = 0
    while index < len(words):
        word = words[index]
        if word == "-X" and index + 1 < len(words):
            index += 1
        elif not (word in ("-I", "-E", "-s", "-P") or
                  (word.startswith("-W") and len(word) > 2) or
                  (len(word) > 1 and word[0] == "-" and word[1] in "dBSvbqO" and
                   word[1:] == word[1] * (len(word) - 1))):
            return False
        index += 1
    return True


def _commanded(text):
    prefixes = {name: f"from {name} import " for name in _COMMAND_MODULES}
    name = next((name for name, prefix in prefixes.items() if text.startswith(prefix)), None)
    if name is None:
        return None
    import ast
    try:
        tree = ast.parse(text)
    except (SyntaxError, ValueError):
        return None
    if len(tree.body) != 2:
        return None
    imported, statement = tree.body
    if not (isinstance(imported, ast.ImportFrom) and imported.module == name and
            imported.level == 0 and len(imported.names) == 1 and
            imported.names[0].asname is None):
        return None
    call = statement.value if isinstance(statement, ast.Expr) else None
    entry_name = imported.names[0].name
    if not (isinstance(call, ast.Call) and isinstance(call.func, ast.Name) and
            call.func.id == entry_name):
        return None
    try:
        args = tuple(ast.literal_eval(node) for node in call.args)
        keywords = [(keyword.arg, ast.literal_eval(keyword.value)) for keyword in call.keywords]
    except (ValueError, TypeError, SyntaxError, MemoryError, RecursionError):
        return None
    import importlib
    try:
        module = importlib.import_module(name)
    except ImportError:
        return None
    values = args + tuple(value for _, value in keywords)
    if not any(_renders(form, values, text) for form in _command_formats(module, prefixes[name])):
        return None
    kwargs = {}
    for keyword, value in keywords:
        if keyword is not None:
            kwargs[keyword] = value
        elif isinstance(value, dict) and all(isinstance(key, str) for key in value):
            kwargs.update(value)
        else:
            return None
    return getattr(module, entry_name), args, kwargs


def _command_formats(module, prefix):
    # The %-format strings of the module's own functions and methods that begin with `prefix`:
    # the commands it writes for its children.
    codes = []
    for value in vars(module).values():
        for member in (vars(value).values() if isinstance(value, type) else (value,)):
            code = getattr(member, "__code__", None)
            if getattr(member, "__module__", None) == module.__name__ and code is not None:
                codes.append(code)
    formats = set()
    while codes:
        code = codes.pop()
        for constant in code.co_consts:
            if isinstance(constant, str) and constant.startswith(prefix):
                formats.add(constant)
            elif isinstance(constant, type(code)):
                codes.append(constant)
    return formats


def _renders(form, values, text):
    try:
        return form % values == text
    except (TypeError, ValueError):
        return False
