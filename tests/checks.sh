# Sourced by the check scripts: the count of what passed and failed, and the closing line that
# tells the test runner how it went.
passed=0
failed=0
pass() {
    passed=$((passed + 1))
    if [ $# -gt 0 ]; then echo "PASS: $1"; fi
}
fail() {
    failed=$((failed + 1))
    echo "FAIL: $1"
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}
