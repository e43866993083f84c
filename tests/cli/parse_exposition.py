#!/usr/bin/python3
# Parses an exposition file with the client library's parsers for both formats,
# fails unless they agree, and prints the samples as JSON: [name, labels, value].
import json
import sys

from prometheus_client.openmetrics.parser import text_string_to_metric_families as openmetrics
from prometheus_client.parser import text_string_to_metric_families as plain

text = open(sys.argv[1], encoding="utf-8").read()
found = [[[s.name, s.labels, float(s.value)] for f in parse(text) for s in f.samples] for parse in (plain, openmetrics)]
if found[0] != found[1]:
    sys.exit("the parsers disagree: %r" % found)
print(json.dumps(found[0]))
