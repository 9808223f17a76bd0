/* Builtins replaced after the module loaded: each builtin name a module reads, or calls in a
   form turned into C, has a flag in that module that is set while the name is bound in the
   module's globals or the builtins module holds another value than at import. Compiled code
   tests the flag and, only when it is set, looks the name up as Python does. The flags are told
   of changes by one dict watcher for all the modules of a product; where the running Python
   gives none (before 3.12, or a library on a host whose symbols cannot be asked for), the
   flags stay set and every such use looks the name up. Put in the utility code's
   implementation part, after product_state.c; its declarations, with a module's flag of one
   name (__Pyx_qvx_BuiltinName: the flag and the builtins' value at import), go before. */

#if CYTHON_COMPILING_IN_LIMITED_API && !defined(_WIN32)
#include <dlfcn.h>
#endif

/* The values of PyDict_WatchEvent, which the stable ABI does not declare. */
enum {
    __Pyx_qvx_DICT_ADDED, __Pyx_qvx_DICT_MODIFIED, __Pyx_qvx_DICT_DELETED,
    __Pyx_qvx_DICT_CLONED, __Pyx_qvx_DICT_CLEARED, __Pyx_qvx_DICT_DEALLOCATED
};
typedef int (*__Pyx_qvx_DictWatchCallback)(int, PyObject *, PyObject *, PyObject *);

typedef struct {
    PyObject *name;
    Py_hash_t hash;
    __Pyx_qvx_BuiltinName *flag;
    unsigned char shadowed;    /* bound in the module's globals */
    unsigned char changed;     /* the builtins module holds another value */
} __Pyx_qvx_WatchedName;

typedef struct {
    PyObject *globals;         /* watched: the record is dropped with the dict */
    unsigned long long hashes; /* two bits of each name's hash, to pass over other keys */
    Py_ssize_t count, room;
    __Pyx_qvx_WatchedName *names;
} __Pyx_qvx_WatchedModule;

typedef struct {
    int watcher;               /* 0 not tried yet, 1 watching, -1 none to be had */
    int watcher_id;
    PyObject *builtins;        /* the builtins module's dict */
    int (*watch)(int, PyObject *);
    Py_ssize_t count, room;
    __Pyx_qvx_WatchedModule **modules;
} __Pyx_qvx_BuiltinWatch;

__Pyx_qvx_STATE_LINKAGE __Pyx_qvx_BuiltinWatch __Pyx_qvx_builtin_watch;

/* Most keys are the interned names themselves; others are told by their hash first, as a
   module's globals change far more often than by its builtins' names. */
static int __Pyx_qvx_SameName(PyObject *key, Py_hash_t hash, __Pyx_qvx_WatchedName *watched) {
    return key == watched->name
        || (hash == watched->hash && hash != -1 && PyUnicode_Compare(key, watched->name) == 0);
}

/* An item of a dict being cloned, without touching the exception being handled. */
static PyObject *__Pyx_qvx_ItemOf(PyObject *dict, PyObject *name) {
    PyObject *type, *value, *traceback, *item;
    PyErr_Fetch(&type, &value, &traceback);
    item = PyDict_GetItemWithError(dict, name);
    PyErr_Restore(type, value, traceback);
    return item;
}

static unsigned long long __Pyx_qvx_HashBits(Py_hash_t hash) {
    return (1ULL << (hash & 63)) | (1ULL << ((hash >> 6) & 63));
}

static void __Pyx_qvx_Settle(__Pyx_qvx_WatchedName *watched) {
    watched->flag->replaced = watched->shadowed | watched->changed;
}

/* What a change of one name in the builtins module makes of it. */
static void __Pyx_qvx_BuiltinChanged(__Pyx_qvx_WatchedName *watched, int event,
                                     PyObject *key, Py_hash_t hash, PyObject *new_value) {
    if (event == __Pyx_qvx_DICT_CLONED) {
        /* The dict was empty and takes the items of the one given as the key. */
        new_value = __Pyx_qvx_ItemOf(key, watched->name);
    } else if (!__Pyx_qvx_SameName(key, hash, watched)) {
        return;
    } else if (event == __Pyx_qvx_DICT_DELETED) {
        new_value = NULL;
    }
    watched->changed = new_value != watched->flag->original;
    __Pyx_qvx_Settle(watched);
}

static void __Pyx_qvx_GlobalChanged(__Pyx_qvx_WatchedName *watched, int event,
                                    PyObject *key, Py_hash_t hash) {
    if (event == __Pyx_qvx_DICT_CLEARED) {
        watched->shadowed = 0;
    } else if (event == __Pyx_qvx_DICT_CLONED) {
        watched->shadowed = __Pyx_qvx_ItemOf(key, watched->name) != NULL;
    } else if (__Pyx_qvx_SameName(key, hash, watched)) {
        watched->shadowed = event != __Pyx_qvx_DICT_DELETED;
    } else {
        return;
    }
    __Pyx_qvx_Settle(watched);
}

static int __Pyx_qvx_WatchedDictChanged(int event, PyObject *dict, PyObject *key,
                                        PyObject *new_value) {
    __Pyx_qvx_BuiltinWatch *state = &__Pyx_qvx_builtin_watch;
    Py_ssize_t m, n;
    /* The hash of a str is kept in it (and set: the dict has just hashed the key); other keys
       are told by identity alone. */
    Py_hash_t hash = -1;
    if (key && event != __Pyx_qvx_DICT_CLONED && PyUnicode_CheckExact(key)) {
#if CYTHON_COMPILING_IN_LIMITED_API
        hash = PyObject_Hash(key);
#else
        hash = ((PyASCIIObject *)key)->hash;
#endif
    }
    if (dict == state->builtins) {
        /* The builtins emptied or freed: the interpreter is ending, and the values seen at
           import serve the code that still runs. */
        if (event == __Pyx_qvx_DICT_CLEARED || event == __Pyx_qvx_DICT_DEALLOCATED) return 0;
        for (m = 0; m < state->count; m++) {
            __Pyx_qvx_WatchedModule *module = state->modules[m];
            for (n = 0; n < module->count; n++)
                __Pyx_qvx_BuiltinChanged(&module->names[n], event, key, hash, new_value);
        }
        return 0;
    }
    for (m = 0; m < state->count; m++) {
        __Pyx_qvx_WatchedModule *module = state->modules[m];
        if (module->globals != dict) continue;
        if (event == __Pyx_qvx_DICT_DEALLOCATED) {
            module->globals = NULL;
            state->modules[m] = state->modules[--state->count];
            return 0;
        }
        if (hash != -1 && event <= __Pyx_qvx_DICT_DELETED
                && (module->hashes & __Pyx_qvx_HashBits(hash)) != __Pyx_qvx_HashBits(hash))
            return 0;
        for (n = 0; n < module->count; n++)
            __Pyx_qvx_GlobalChanged(&module->names[n], event, key, hash);
        return 0;
    }
    return 0;
}

/* The running Python's dict watchers, found once per product. A library built for the stable
   ABI asks the process for the functions, which 3.12 and later export. */
static int __Pyx_qvx_StartWatching(__Pyx_qvx_BuiltinWatch *state, PyObject *builtins_module) {
    int (*add_watcher)(__Pyx_qvx_DictWatchCallback) = NULL;
    state->watcher = -1;
    state->builtins = PyModule_GetDict(builtins_module);
    if (!state->builtins) return -1;
#if CYTHON_COMPILING_IN_LIMITED_API && !defined(_WIN32)
    if (Py_Version >= 0x030C0000) {
        *(void **)&add_watcher = dlsym(RTLD_DEFAULT, "PyDict_AddWatcher");
        *(void **)&state->watch = dlsym(RTLD_DEFAULT, "PyDict_Watch");
    }
#elif !CYTHON_COMPILING_IN_LIMITED_API && PY_VERSION_HEX >= 0x030C0000
    add_watcher = (int (*)(__Pyx_qvx_DictWatchCallback))PyDict_AddWatcher;
    state->watch = PyDict_Watch;
#endif
    if (!add_watcher || !state->watch) return 0;
    state->watcher_id = add_watcher(__Pyx_qvx_WatchedDictChanged);
    if (state->watcher_id < 0) {
        /* Every watcher of the interpreter taken: the names are looked up. */
        PyErr_Clear();
        return 0;
    }
    if (state->watch(state->watcher_id, state->builtins) < 0) return -1;
    state->watcher = 1;
    return 0;
}

/* Called while the module loads, before its body runs, once for each such name: the flag is
   left set when nothing can tell of changes. */
static int __Pyx_qvx_WatchBuiltin(PyObject *globals, PyObject *builtins_module, PyObject *name,
                                  __Pyx_qvx_BuiltinName *flag) {
    static __Pyx_qvx_WatchedModule *this_module = NULL;
    __Pyx_qvx_BuiltinWatch *state = &__Pyx_qvx_builtin_watch;
    __Pyx_qvx_WatchedName *watched;
    int shadowed;
    flag->replaced = 1;
    if (state->watcher == 0 && __Pyx_qvx_StartWatching(state, builtins_module) < 0) return -1;
    flag->original = PyDict_GetItemWithError(state->builtins, name);
    if (!flag->original && PyErr_Occurred()) return -1;
    Py_XINCREF(flag->original);
    if (state->watcher < 0) return 0;
    if (!this_module) {
        if (state->count == state->room) {
            Py_ssize_t room = state->room ? 2 * state->room : 16;
            void *modules = PyMem_Realloc(state->modules, room * sizeof(*state->modules));
            if (!modules) { PyErr_NoMemory(); return -1; }
            state->modules = (__Pyx_qvx_WatchedModule **)modules;
            state->room = room;
        }
        this_module = (__Pyx_qvx_WatchedModule *)PyMem_Calloc(1, sizeof(*this_module));
        if (!this_module) { PyErr_NoMemory(); return -1; }
        if (state->watch(state->watcher_id, globals) < 0) {
            PyMem_Free(this_module);
            this_module = NULL;
            return -1;
        }
        this_module->globals = globals;
        state->modules[state->count++] = this_module;
    }
    if (this_module->count == this_module->room) {
        Py_ssize_t room = this_module->room ? 2 * this_module->room : 8;
        void *names = PyMem_Realloc(this_module->names, room * sizeof(*this_module->names));
        if (!names) { PyErr_NoMemory(); return -1; }
        this_module->names = (__Pyx_qvx_WatchedName *)names;
        this_module->room = room;
    }
    shadowed = PyDict_Contains(globals, name);
    if (shadowed < 0) return -1;
    watched = &this_module->names[this_module->count];
    watched->hash = PyObject_Hash(name);
    if (watched->hash == -1) return -1;
    Py_INCREF(name);
    watched->name = name;
    watched->flag = flag;
    watched->shadowed = (unsigned char)shadowed;
    watched->changed = 0;
    this_module->hashes |= __Pyx_qvx_HashBits(watched->hash);
    this_module->count++;
    __Pyx_qvx_Settle(watched);
    return 0;
}

/* What the name holds now, borrowed: the module's global, else the builtin, else NULL with no
   exception set (a look-up of a str in dicts of str keys raises nothing). */
static PyObject *__Pyx_qvx_Bound(PyObject *globals, PyObject *name) {
    PyObject *current = PyDict_GetItemWithError(globals, name);
    if (!current && !PyErr_Occurred())
        current = PyDict_GetItemWithError(__Pyx_qvx_builtin_watch.builtins, name);
    if (!current) PyErr_Clear();
    return current;
}

/* Whether the name, its flag set, still holds the builtin seen at import: then the form turned
   into C does what a call of it would. Without watchers, Python before 3.12 still versions its
   dicts: while neither dict has changed since the name was last found unreplaced, it still is. */
static int __Pyx_qvx_Unreplaced(__Pyx_qvx_BuiltinName *flag, PyObject *globals, PyObject *name) {
#if !CYTHON_COMPILING_IN_LIMITED_API && PY_VERSION_HEX < 0x030C0000
    PyObject *builtins = __Pyx_qvx_builtin_watch.builtins;
    if (((PyDictObject *)globals)->ma_version_tag == flag->globals_version
            && ((PyDictObject *)builtins)->ma_version_tag == flag->builtins_version)
        return 1;
    if (__Pyx_qvx_Bound(globals, name) != flag->original) return 0;
    flag->globals_version = ((PyDictObject *)globals)->ma_version_tag;
    flag->builtins_version = ((PyDictObject *)builtins)->ma_version_tag;
    return 1;
#else
    return __Pyx_qvx_Bound(globals, name) == flag->original;
#endif
}

/* What the name holds now, a new reference; NameError where it is bound nowhere. */
static PyObject *__Pyx_qvx_CurrentBuiltin(PyObject *globals, PyObject *name) {
    PyObject *current = __Pyx_qvx_Bound(globals, name);
    if (!current) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        return NULL;
    }
    Py_INCREF(current);
    return current;
}

/* A call of what the name holds now, out of the compiled function's way. */
static PyObject *__Pyx_qvx_CallCurrentBuiltin(PyObject *globals, PyObject *name,
                                              PyObject *const *args, Py_ssize_t count) {
    PyObject *function = __Pyx_qvx_CurrentBuiltin(globals, name);
    PyObject *arguments, *result = NULL;
    Py_ssize_t i;
    if (!function) return NULL;
    arguments = PyTuple_New(count);
    for (i = 0; arguments && i < count; i++) {
        Py_INCREF(args[i]);
        if (PyTuple_SetItem(arguments, i, args[i]) < 0) Py_CLEAR(arguments);
    }
    if (arguments) {
        result = PyObject_Call(function, arguments, NULL);
        Py_DECREF(arguments);
    }
    Py_DECREF(function);
    return result;
}

/* A builtin read as an object while its flag is set: what the name holds now, borrowed as the
   cached builtin is. The flag holds it, and the one it held before, so that a call of it outlives
   a rebinding of the name that it makes itself; where the name is bound nowhere, the cached
   builtin serves. */
static PyObject *__Pyx_qvx_HeldBuiltin(__Pyx_qvx_BuiltinName *flag, PyObject *globals,
                                       PyObject *name, PyObject *cached) {
    PyObject *current = __Pyx_qvx_Bound(globals, name);
    if (!current) return cached;
    if (current != flag->held) {
        Py_XDECREF(flag->previous);
        flag->previous = flag->held;
        Py_INCREF(current);
        flag->held = current;
    }
    return current;
}
