# Checks the export table and the calling convention of the 32-bit Windows driver DLL.
#
#   objdump -p DLL > headers.txt; objdump -d DLL > code.txt
#   awk -v table=src/api/exports.csv -f stack_bytes.awk headers.txt code.txt
#
# From the headers: exactly the names of the table, each at its ordinal, nothing else exported
# (no decorated Name@N duplicates). From the code: each export's address is its stdcall
# function (_Name@N), and every return reachable from it, directly or through tail jumps into
# other functions, removes the export's argument bytes from the stack (ret $N; plain ret for
# none). Prints the table as built; exits 1 on any mismatch.

function fail(message) {
  print "FAIL: " message
  failed = 1
}

function hex(text,    i, digit, value) {
  value = 0
  text = tolower(text)
  sub(/^0x/, "", text)
  for (i = 1; i <= length(text); i++) {
    digit = index("0123456789abcdef", substr(text, i, 1)) - 1
    if (digit < 0) break
    value = value * 16 + digit
  }
  return value
}

# Collects the return sizes reachable from function `name` into found[], following tail jumps.
function reach(name, depth,    list, n, i) {
  if (depth > 8 || (name in visited)) return
  visited[name] = 1
  n = split(rets[name], list, " ")
  for (i = 1; i <= n; i++) found[list[i]] = 1
  n = split(tails[name], list, " ")
  for (i = 1; i <= n; i++) reach(list[i], depth + 1)
}

BEGIN {
  # name, ordinal, argument bytes: the contract with the application.
  if (table == "") { fail("no export table given (-v table=FILE)"); exit 1 }
  wanted = 0
  while ((getline line < table) > 0) {
    if (line ~ /^name,/) continue
    split(line, field, ",")
    order[++wanted] = field[1]
    wantOrdinal[field[1]] = field[2] + 0
    wantBytes[field[1]] = field[3] + 0
  }
  close(table)
  if (wanted == 0) { fail("no exports in " table); exit 1 }
  section = ""
}

# ---- objdump -p -------------------------------------------------------------------------
FNR == NR {
  if ($1 == "ImageBase") imageBase = hex($2)
  if ($0 ~ /^Export Address Table -- Ordinal Base/) { base = $NF + 0; section = "addresses"; next }
  if ($0 ~ /^\[Ordinal\/Name Pointer\] Table/) { section = "names"; next }
  if ($0 ~ /^[ \t]*$/) { section = ""; next }
  if (section == "addresses" && $0 ~ /\+base\[/) {
    line = $0
    sub(/.*\+base\[ */, "", line)
    split(line, part, /[] \t]+/)
    rva[part[1] + 0] = hex(part[2])
  }
  if (section == "names" && $0 ~ /^[ \t]*\[/) {
    line = $0
    sub(/^[ \t]*\[ */, "", line)
    split(line, part, /[] \t]+/)
    exportName = part[2]
    exportCount++
    builtOrdinal[exportName] = part[1] + base
  }
  next
}

# ---- objdump -d -------------------------------------------------------------------------
/^[0-9a-f]+ <[^>]+>:$/ {
  current = $2
  gsub(/[<>:]/, "", current)
  start[current] = hex($1)
  next
}
current != "" && /^ *[0-9a-f]+:\t/ {
  count = split($0, column, "\t")
  if (count < 3) next
  instruction = column[3]
  if (instruction ~ /^(repz |rep )?ret/) {
    popped = 0
    if (match(instruction, /\$0x[0-9a-f]+/)) popped = hex(substr(instruction, RSTART + 1, RLENGTH - 1))
    rets[current] = rets[current] " " popped
  } else if (instruction ~ /^jmp / && instruction !~ /\*/ && match(instruction, /<[^>+]+>/)) {
    target = substr(instruction, RSTART + 1, RLENGTH - 2)
    if (target != current) tails[current] = tails[current] " " target
  }
}

END {
  if (exportCount != wanted) fail("the DLL exports " exportCount " names, not " wanted)
  for (name in builtOrdinal) {
    if (!(name in wantOrdinal)) fail("unexpected export " name)
  }
  printf "%-20s %-8s %s\n", "export", "ordinal", "stack bytes"
  for (i = 1; i <= wanted; i++) {
    name = order[i]
    if (!(name in builtOrdinal)) { fail(name " is not exported"); continue }
    if (builtOrdinal[name] != wantOrdinal[name]) {
      fail(name " has ordinal " builtOrdinal[name] ", expected " wantOrdinal[name])
    }
    symbol = "_" name "@" wantBytes[name]
    if (!(symbol in start)) { fail(name ": no stdcall function " symbol " in the code"); continue }
    if (rva[builtOrdinal[name]] + imageBase != start[symbol]) fail(name " does not point at " symbol)

    split("", visited)
    split("", found)
    reach(symbol, 0)
    shown = ""
    for (bytes in found) {
      shown = shown (shown == "" ? "" : ",") bytes
      if (bytes + 0 != wantBytes[name]) fail(name " returns with ret " bytes ", expected " wantBytes[name])
    }
    if (shown == "") fail(name ": no return found")
    printf "%-20s %-8d %s\n", name, builtOrdinal[name], shown
  }
  exit failed
}
