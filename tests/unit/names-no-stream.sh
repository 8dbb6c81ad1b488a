#!/bin/sh
# names-no-stream.sh DIR: fails, naming the lines, when a C++ file below DIR
# names a standard stream or a way of writing to one. The engine serves every
# front end, a window among them, which must find its standard streams as it
# left them: the engine tells what happened through signals and values only.
pattern='\bstd::(cout|cerr|clog|cin)\b|\bstd(in|out|err)\b|\bSTD(IN|OUT|ERR)_FILENO\b'
pattern="$pattern"'|\b(printf|fprintf|vfprintf|puts|fputs|perror|putchar)[[:space:]]*\('
pattern="$pattern"'|\bq(Debug|Info|Warning|Critical|Fatal)\b|\bConsole::'
if grep -rnE --include='*.cpp' --include='*.h' "$pattern" "$1"; then
    echo "names-no-stream.sh: the lines above write to a standard stream" >&2
    exit 1
fi
exit 0
