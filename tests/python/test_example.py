"""The report example runs end to end (fast mode), so it cannot rot."""

import importlib.util
import json
from pathlib import Path

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "monthly_report.py"


def test_monthly_report_example(tmp_path, capsys):
    module_spec = importlib.util.spec_from_file_location("monthly_report", EXAMPLE)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    assert module.main(["--fast", "--out", str(tmp_path)]) == 0
    document = json.loads((tmp_path / "monthly_report.json").read_text(encoding="utf-8"))
    names = [s["name"] for s in document["sheets"]]
    assert names == ["Summary", "Details", "Sheet 3"]
    summary, details, archive = document["sheets"]
    assert archive["cells"] == summary["cells"]            # the copy shares its cells
    assert archive["sheet_state"] == "hidden"
    kinds = {c["data_type"] for c in summary["cells"] + details["cells"]}
    assert kinds == {"s", "n", "b", "d", "f"}
    total = next(c for c in summary["cells"] if c["value"] == "Total")
    revenue = next(c for c in summary["cells"]
                   if c["row"] == total["row"] and c["column"] == 4)
    assert revenue["formula"].startswith("=SUM(D4:D")
    regions = [c for c in summary["cells"] if c["column"] == 4 and 4 <= c["row"] < total["row"]]
    assert abs(sum(c["value"] for c in regions) - revenue["value"]) < 0.01
    out = capsys.readouterr().out
    assert "MonthlySalesReport, sheets: 3" in out
    assert f"Total revenue {revenue['value']}" in out
