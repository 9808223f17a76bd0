# The command lines with which multiprocessing and loky (joblib's default backend) start a
# program's children. A program sets sys.frozen, so multiprocessing starts them through
# sys.executable, the program itself: spawn as "<program> --multiprocessing-fork name=value...",
# the fork server and the resource tracker as "<program> <interpreter options> -c 'from
# multiprocessing.<module> import main; main(...)'". loky starts its resource tracker with such a
# -c command of its own, and its workers as "<program> -m <loky>.backend.popen_loky_posix
# --process-name NAME --pipe FD". The program's start-up runs this text only for an argument
# list of such a form, and runs the child that it names instead of main(). A command is
# recognised only when the running Python's own multiprocessing or loky code writes exactly it:
# the text after -c is parsed, never run, and must read back as one of that module's own command
# formats filled in with the parsed arguments; a -m command must name loky's worker module and
# carry, in order, the options its launcher writes. Any other argument list, a program's own -c
# or -m included, is left to main().
import sys

# The modules whose children run a -c command: their entry point is the function it imports.
# joblib carries its own copy of loky.
_COMMAND_MODULES = ("multiprocessing.forkserver", "multiprocessing.resource_tracker",
                    "joblib.externals.loky.backend.resource_tracker",
                    "loky.backend.resource_tracker")
# The modules that loky runs with -m as its workers.
_WORKER_MODULES = ("joblib.externals.loky.backend.popen_loky_posix",
                   "loky.backend.popen_loky_posix")
# Run with the filename of CPython's -c, so that a traceback of the child reads as CPython's.
_RUN_SOURCE = "_entry(*_args, **_kwargs)\n"


def child_run(argv):
    """The code and namespace that run the child started by `argv`, or None for any other
    argument list."""
    if argv[1] == "--multiprocessing-fork":
        entry = _spawned(argv)
    elif argv[1] == "-m":
        entry = _loky_worker(argv)
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
    if not any(_renders(form, filled, text)
               for form, filled in _command_formats(module, prefixes[name], values)):
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


def _command_formats(module, prefix, values):
    # The commands the module writes for its children, as %-formats of `values`: the format
    # strings of its own functions and methods that begin with `prefix`, and its f-strings
    # that begin with "from " and its own name, whose literal parts a function's constants
    # hold in order (a format of the name and whole numbers: the f-string shows the values of
    # other kinds in ways that the parsed text need not).
    formats = []
    whole = all(isinstance(value, int) for value in values)
    for code in _codes(module):
        constants = code.co_consts
        for index, constant in enumerate(constants):
            if not isinstance(constant, str):
                continue
            if constant.startswith(prefix):
                formats.append((constant, values))
            elif constant == "from " and whole:
                parts = constants[index:index + len(values) + 2]
                if len(parts) == len(values) + 2 and all(isinstance(part, str) for part in parts):
                    form = "%s".join(part.replace("%", "%%") for part in parts)
                    formats.append((form, (module.__name__,) + values))
    return formats


def _codes(module):
    # The code of the module's own functions and methods, and the code nested in it.
    codes = []
    for value in vars(module).values():
        for member in (vars(value).values() if isinstance(value, type) else (value,)):
            code = getattr(member, "__code__", None)
            if getattr(member, "__module__", None) == module.__name__ and code is not None:
                codes.append(code)
    while codes:
        code = codes.pop()
        yield code
        codes.extend(constant for constant in code.co_consts
                     if isinstance(constant, type(code)))


def _loky_worker(argv):
    # "-m <worker module> --process-name NAME --pipe FD", as loky's Popen._launch writes it.
    # The options are those that the module's code writes after "-m", in order; that code is
    # read, not run, since CPython's -m runs the module as __main__ without importing it under
    # its own name.
    if len(argv) != 7 or argv[2] not in _WORKER_MODULES:
        return None
    pipe = argv[6]
    if not (pipe.isascii() and pipe.isdigit() and str(int(pipe)) == pipe):
        return None
    name = argv[2]
    import importlib.util
    try:
        spec = importlib.util.find_spec(name)
        loader = getattr(spec, "loader", None)
        code = loader.get_code(name) if hasattr(loader, "get_code") else None
    except (ImportError, OSError, SyntaxError):
        return None
    if code is None or argv[3::2] not in _option_lists(code):
        return None
    import runpy
    # What CPython's sys.argv holds under -m until runpy puts the module's file first.
    sys.argv[:] = ["-m"] + argv[3:]
    return runpy._run_module_as_main, (name,), {}


def _option_lists(code):
    # For each function of the module's code that writes "-m": the options it writes, in order.
    lists = []
    codes = [code]
    while codes:
        code = codes.pop()
        if "-m" in code.co_consts:
            lists.append([constant for constant in code.co_consts
                          if isinstance(constant, str) and constant.startswith("--")])
        codes.extend(constant for constant in code.co_consts
                     if isinstance(constant, type(code)))
    return lists


def _renders(form, values, text):
    try:
        return form % values == text
    except (TypeError, ValueError):
        return False
