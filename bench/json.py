import sys

sys.path.pop(0)  # this folder holds this json.py, not the module
import json

parts = []
for i in range(1, 22001):
    parts.append(
        '{"id": %d, "name": "user %d", "score": %d.5, "active": true, "tags": ["red", "green", '
        '"blue"], "note": "caf\\u00e9 \\"quoted\\"\\n line", "nested": {"x": %d, "y": [1, 2.25, '
        'null, false], "z": {"deep": "value é"}}, "empty": {}, "list": []}' % (i, i, i, i))
text = "[" + ",\n".join(parts) + "]"
data = json.loads(text)
print(len(text), len(data), len(json.dumps(data, separators=(",", ":"), ensure_ascii=False)))
