#!/usr/bin/env bash
# Names every skipped test of a CTest run and why it was skipped, read from
# the JUnit file that `ctest --output-junit` wrote: each reason, and under it
# the tests skipped for it.
#
#   tests/report-skipped.sh JUNIT.xml
#
# The reason is the test's own: a line "SKIPPED: why" (the transcript
# runner), or the message after GoogleTest's "Skipped" (GTEST_SKIP() << why).
set -euo pipefail
junit=${1:?usage: report-skipped.sh JUNIT.xml}
[[ -f $junit ]] || { echo "no test report in $junit"; exit 0; }
awk '
function unescape(text) {
    gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
    gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
    return text
}
/<testcase / {
    match($0, /name="[^"]*"/)
    name = unescape(substr($0, RSTART + 6, RLENGTH - 7))
    skipped = 0; reason = ""; after_mark = 0
    next
}
/<skipped/ {
    skipped = 1
    match($0, /message="[^"]*"/)
    fallback = unescape(substr($0, RSTART + 9, RLENGTH - 10))
    next
}
skipped && reason == "" {
    line = $0
    sub(/^.*<system-out>/, "", line)
    if (after_mark && line != "") { reason = unescape(line) }
    else if (line ~ /^SKIPPED: /) { reason = unescape(substr(line, 10)) }
    else if (line ~ /: Skipped$/) { after_mark = 1 }
}
/<\/testcase>/ {
    if (skipped) {
        if (reason == "") { reason = fallback }
        if (!(reason in tests)) { order[++reasons] = reason }
        tests[reason] = tests[reason] (tests[reason] == "" ? "" : ", ") name
        count[reason]++
        total++
    }
    skipped = 0
}
END {
    if (total == 0) { print "skipped: none"; exit }
    print "skipped: " total " test" (total == 1 ? "" : "s")
    for (i = 1; i <= reasons; i++) {
        r = order[i]
        print "  " r ":"
        print "    " tests[r]
    }
}
' "$junit"
