#!/usr/bin/env bash
# bench/xml_parse.sh BUILD_DIR: the XML engine against pugixml, tinyxml2 and libxml2 (parse MB/s,
# ratio to pugixml, peak memory per MB of text); ends with the RATIO lines.
set -euo pipefail
build=${1:-build/release}
exec "$build/bench/bench_xml_parse" --benchmark_counters_tabular=true
