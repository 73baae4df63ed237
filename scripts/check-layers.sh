#!/bin/bash
# Fails when an include in src/ breaks the one-way layers:
#   app/          on top, may use everything below
#   checker/      the package checker, a top layer beside app/: it may use
#                 everything below, but not app/ nor the section types
#   interpreter/  the core; not app/; of sections/ only the step runner's
#                 factory (MainSection.cpp) knows the section types
#   sections/     the handlers; of interpreter/ only its headers for handlers
#   symbols/      not app/, not sections/
#   util/         nothing of the project above it
#   svctool/      Pendrel; shares nothing with the installer
set -euo pipefail
cd "$(dirname "$0")/../src"
bad=0
report() { echo "check-layers: $1: includes \"$2\" ($3)"; bad=1; }

# The headers of interpreter/ that a handler may use.
section_may_use='^interpreter/(Section|ItemList|Interpreter|MainSection|UICallback|ProgramTexts|RunSettings)\.h$'

for f in $(find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | sort); do
  layer=${f%%/*}
  while IFS= read -r inc; do
    target=${inc%%/*}
    [ "$inc" = "$target" ] && target=""   # a plain name: same folder
    case "$layer" in
      app)
        case "$target" in
          checker) report "$f" "$inc" "the installer and the checker are programs of their own" ;;
        esac ;;
      checker)
        case "$target" in
          app) report "$f" "$inc" "the installer and the checker are programs of their own" ;;
          sections) report "$f" "$inc" "the checker dispatches through the step runner's factory only" ;;
          svctool) report "$f" "$inc" "Pendrel is apart" ;;
        esac ;;
      interpreter)
        case "$target" in
          app|checker) report "$f" "$inc" "nothing below app/ and checker/ includes them" ;;
          sections) [ "$f" = interpreter/MainSection.cpp ] || report "$f" "$inc" "only the factory knows the section types" ;;
          svctool) report "$f" "$inc" "Pendrel is apart" ;;
        esac ;;
      sections)
        case "$target" in
          app|checker) report "$f" "$inc" "nothing below app/ and checker/ includes them" ;;
          interpreter) [[ "$inc" =~ $section_may_use ]] || report "$f" "$inc" "handlers use the interpreter's headers only" ;;
          svctool) report "$f" "$inc" "Pendrel is apart" ;;
        esac ;;
      symbols)
        case "$target" in
          app|checker|sections|svctool) report "$f" "$inc" "symbols/ uses the interpreter, itself and util/ only" ;;
        esac ;;
      util)
        case "$target" in
          ""|util) ;;
          *) report "$f" "$inc" "util/ includes nothing above it" ;;
        esac ;;
      svctool)
        case "$target" in
          ""|svctool) ;;
          *) report "$f" "$inc" "Pendrel shares no code with the installer" ;;
        esac ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f")
done

# The application object is the application's: nobody below it looks it up.
if grep -rn 'GetKorvexApp' interpreter symbols sections util checker; then
  echo "check-layers: the lines above look up the application object below app/"
  bad=1
fi
[ "$bad" -eq 0 ] && echo "check-layers: ok"
exit "$bad"
