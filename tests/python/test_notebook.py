# The example notebook runs from top to bottom without an error, and shows
# its five figures.
import os

import nbclient
import nbformat

from conftest import SOURCE_DIR


def test_explore_notebook_runs():
    path = os.path.join(SOURCE_DIR, "examples", "explore.ipynb")
    notebook = nbformat.read(path, as_version=4)
    nbclient.NotebookClient(notebook, timeout=600, kernel_name="python3",
                            resources={"metadata": {"path": os.path.dirname(path)}}).execute()
    figures = [output for cell in notebook.cells if cell.cell_type == "code"
               for output in cell.get("outputs", []) if "image/png" in output.get("data", {})]
    assert len(figures) == 5
