# The package's signatures, stubs and docstrings are the parameter and
# settings tables': every parameter once, by its keyword, with its meaning.
import ast
import inspect
import os

import blocklevels
from blocklevels import _core

STUBS = os.path.join(os.environ.get("BLOCKLEVELS_SOURCE_DIR", "."),
                     "src", "python", "blocklevels", "__init__.pyi")


def stub_signatures():
    """The stubbed functions' parameters: (name, has a default, keyword-only)."""
    tree = ast.parse(open(STUBS).read())
    signatures = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            a = node.args
            positional = [(p.arg, i >= len(a.args) - len(a.defaults), False)
                          for i, p in enumerate(a.args)]
            keyword = [(p.arg, d is not None, True) for p, d in zip(a.kwonlyargs, a.kw_defaults)]
            signatures[node.name] = positional + keyword
    return signatures


def test_signatures_are_the_tables_and_the_stubs_say_the_same():
    parameters = _core.parameters()
    keywords = {p["keyword"] for p in parameters}
    settings = {s["name"] for s in _core.settings()}
    stubs = stub_signatures()
    calls = (blocklevels.model, blocklevels.simulate, blocklevels.study, blocklevels.hitting,
             blocklevels.find)
    for call in calls:
        signature = inspect.signature(call)
        names = [n for n, p in signature.parameters.items()
                 if p.kind != inspect.Parameter.KEYWORD_ONLY]
        required = [p["keyword"] for p in parameters if not p["default"]]
        if call is blocklevels.find:
            # A search names no parameter it must be given: all by keyword.
            names = [n for n in signature.parameters if n in keywords]
            assert all(signature.parameters[n].default is None for n in names)
            required = []
        assert set(names) == keywords, call.__name__
        assert names[:len(required)] == required
        for name, p in signature.parameters.items():
            if p.kind == inspect.Parameter.KEYWORD_ONLY and name not in keywords:
                assert name in settings, (call.__name__, name)
        ours = [(n, p.default is not inspect.Parameter.empty,
                 p.kind == inspect.Parameter.KEYWORD_ONLY)
                for n, p in signature.parameters.items()]
        assert ours == stubs[call.__name__], call.__name__
        for p in parameters:
            assert f"\n        {p['keyword']}: {p['meaning']}" in call.__doc__, p["keyword"]


def test_lambda_is_taken_for_lambda_but_not_beside_it():
    good = dict(mu=5, pmut="0.1", block_length=2, blocks=3, final=4)
    assert (blocklevels.model(**good, **{"lambda": 10}).X ==
            blocklevels.model(lambda_=10, **good).X).all()
    try:
        blocklevels.model(lambda_=10, **good, **{"lambda": 20})
    except TypeError as error:
        assert "lambda_ given twice" in str(error)
    else:
        raise AssertionError("lambda_ and lambda both taken")


def test_no_stray_names_in_the_package():
    public = {name for name in dir(blocklevels) if not name.startswith("_")}
    assert public == set(blocklevels.__all__)
