#!/bin/sh
# Runs an OpenMP test program: its exit status must be $1 and its standard error must hold each
# '|'-separated text of $2 (none when empty). The program's output is shown on failure.
Expected=$1
Texts=$2
shift 2
Err=$(mktemp)
"$@" 2>"$Err"
Status=$?
Failed=0
if [ "$Status" != "$Expected" ]; then
  echo "exit status $Status, expected $Expected"
  Failed=1
fi
OldIfs=$IFS
IFS='|'
for Text in $Texts; do
  if ! grep -qF -- "$Text" "$Err"; then
    echo "standard error lacks: $Text"
    Failed=1
  fi
done
IFS=$OldIfs
if [ $Failed != 0 ]; then
  echo "--- standard error:"
  tail -n 40 "$Err"
fi
rm -f "$Err"
exit $Failed
