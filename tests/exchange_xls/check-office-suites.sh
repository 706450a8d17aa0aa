#!/bin/sh
# Opens our exported workbooks in LibreOffice and Gnumeric, converts every
# sheet back to CSV with each, and compares the cells with what the table
# holds (LibreOffice and Gnumeric show the cells in their own formats).
# Not run by CTest (CI has no office suites); run by hand:
#   apt-get install libreoffice-calc gnumeric
#   tests/exchange_xls/check-office-suites.sh <build dir>
set -eu
build=${1:?usage: $0 <build dir>}
tool="$build/tests/xls_sample_export"
[ -x "$tool" ] || { echo "build the xls_sample_export target first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

compare() { # expected.csv actual.csv... (all sheets in order)
    /usr/bin/python3 - "$@" <<'PY'
import csv, sys
expected = list(csv.reader(open(sys.argv[1], encoding="utf-8")))
actual = []
for name in sys.argv[2:]:
    actual += [row[:5] for row in csv.reader(open(name, encoding="utf-8")) if any(row)]
bad = [(i, e, a) for i, (e, a) in enumerate(zip(expected, actual)) if e != a]
if len(expected) != len(actual) or bad:
    print("  %d rows expected, %d read; first differences: %s" % (len(expected), len(actual), bad[:3]))
    sys.exit(1)
print("  %d rows identical" % len(actual))
PY
}

for case in sample:"" sheets:70000; do
    name=${case%%:*}
    readings=${case#*:}
    # shellcheck disable=SC2086
    "$tool" "$work/$name.xls" "$work/$name-expected.csv" $readings

    echo "LibreOffice: $name"
    # Filter options: comma, double quote, UTF-8, first line 1, cell formats
    # as shown, every sheet to its own file (-1).
    soffice --headless --norestore \
        --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1' \
        --outdir "$work/lo-$name" "$work/$name.xls" >/dev/null 2>&1
    # shellcheck disable=SC2046
    compare "$work/$name-expected.csv" $(ls "$work/lo-$name"/*.csv | sort -V) || status=1

    echo "Gnumeric: $name"
    ssconvert -S --export-type=Gnumeric_stf:stf_assistant -O 'format=preserve separator=,' "$work/$name.xls" "$work/gn-$name.csv" >/dev/null 2>&1
    # shellcheck disable=SC2046
    compare "$work/$name-expected.csv" $(ls "$work"/gn-$name.csv* | sort -V) || status=1
done
[ $status -eq 0 ] && echo "All exports open identically in LibreOffice and Gnumeric."
exit $status
