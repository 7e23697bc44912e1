#!/usr/bin/env bash
# scripts/check-source.sh: the guardrails no compiler gives: every C++ file in the project's
# format, no test line over 120 characters, and a core that includes no operating-system header.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run --Werror "${sources[@]}" 2>/tmp/tw-format.$$; then
  echo "Not in the project's format (run: clang-format -i FILE):"
  grep -o '^[^:]*:' /tmp/tw-format.$$ | sort -u | head -20
  status=1
fi
rm -f /tmp/tw-format.$$

# The core (the game itself) may include the standard library, its own headers, and the
# platform's interface headers: nothing of an operating system or a back end.
standard='algorithm|array|atomic|cassert|cctype|cerrno|charconv|chrono|climits|cmath|compare|concepts|cstddef|cstdint|cstdio|cstdlib|cstring|ctime|deque|exception|functional|initializer_list|iomanip|iosfwd|iostream|istream|iterator|limits|map|memory|mutex|numeric|optional|ostream|random|ranges|set|sstream|stdexcept|string|string_view|system_error|tuple|type_traits|unordered_map|unordered_set|utility|variant|vector'
own='(app|game|input|save|speech|tasks|words)/[a-z0-9_]+\.h|platform/(platform|files|keys|silent_voice)\.h'
while IFS= read -r line; do
  file="${line%%:*}"
  include="$(sed -E 's/^[^:]*:[0-9]+:\s*#\s*include\s*//' <<<"$line")"
  if [[ "$include" =~ ^\<($standard)\>$ ]] || [[ "$include" =~ ^\"($own)\"$ ]]; then continue; fi
  echo "The core may not include $include ($file)"
  status=1
done < <(grep -n -E '^\s*#\s*include' app/*.cpp app/*.h game/*.cpp game/*.h input/*.cpp input/*.h save/*.cpp save/*.h \
           speech/*.cpp tasks/*.cpp words/*.cpp platform/platform.h platform/files.h platform/silent_voice.h 2>/dev/null)

long="$(grep -n -E '^.{121,}' tests/*.cpp tests/*.h tests/linux/*.cpp tests/linux/*.h tests/fuzz/*.cpp || true)"
if [ -n "$long" ]; then
  echo "Test lines over 120 characters:"
  echo "$long" | head -20
  status=1
fi

[ "$status" -eq 0 ] && echo "Source format, line lengths and the core's includes: all in order."
exit "$status"
