#!/usr/bin/env bash
# The installed bash completion of rebounce-cli, driven as bash drives it
# (COMP_WORDS / COMP_CWORD), against the installed program.
#   check_completion.sh <build dir> <source dir>
build=$1 source=$2
. "$source/tests/package/common.sh"
build=$(cd "$build" && pwd)

dest=$build/package-test/completion
rm -rf "$dest"
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null || { fail "cmake --install"; finish; }
PATH=$dest/usr/bin:$PATH
. "$dest/usr/share/bash-completion/completions/rebounce-cli"

# complete <words...>: the last word is the one being completed.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _rebounce_cli
  printf '%s\n' "${COMPREPLY[@]}"
}
offers() { # offers "<words>" <expected word>...
  local words=$1; shift
  local got; got=$(eval "complete_words rebounce-cli $words")
  for want in "$@"; do
    grep -qx -- "$want" <<<"$got" || { echo "  '$words' offered: $(tr '\n' ' ' <<<"$got")" >&2; return 1; }
  done
}
offers_nothing() { [ -z "$(eval "complete_words rebounce-cli $1")" ]; }
offers_not() { ! offers "$@" 2>/dev/null; }

check "subcommands" offers "''" echo calc rates link clocks plug ports lines history
check "subcommand by prefix" offers "ca" calc
check "top-level options" offers "--" --help --version
check "echo options" offers "echo --" --port --device --baud --runs --json --lowercase --no-progress
check "no options of another subcommand" offers_not "echo --" --clock
check "options after a flag" offers "echo --json --" --runs
check "port numbers" offers "echo --port ''" 1 2 3 4
check "a port on another machine" offers "echo --device r" rfc2217://
check "lines options" offers "lines --" --port --device --ri --no-dcd --wiring --settle-limit --json
check "plug wirings" offers "lines --wiring rts-cts,dtr-dsr,o" rts-cts,dtr-dsr,out1-ri,out2-dcd
check "baud rates by prefix" offers "calc --clock 16000000 --baud 96" 9600
check "frames" offers "echo --frame 7" 7E1 7O2
check "flow control" offers "echo --flow ''" none rtscts xonxoff
check "pattern forms" offers "echo --pattern ''" spec counting all-bytes random hex: file:
check "UART families" offers "link --a ''" avr avr-dx stm32 pic 16550 ftdi ch340 cp210x esp32 nrf52
check "UART families by prefix" offers "calc --uart ft" ftdi ftdi-h
check "frames of a link" offers "link --frame 8" 8N1 8E1
check "a value we cannot guess offers nothing" offers_nothing "echo --runs ''"
touch "$dest/ttyFAKE0"
check "device paths are files" offers "echo --device $dest/ttyF" "$dest/ttyFAKE0"
# Every option a subcommand's --help lists is offered: the completion
# reads --help, so a change of its layout must not lose options.
check "verdicts" offers "history --verdict F" FAIL
check "database files" offers "history --db $dest/ttyF" "$dest/ttyFAKE0"
for sub in echo calc rates link clocks plug pair ports lines history; do
  listed=$(rebounce-cli "$sub" --help | sed -n 's/^  \(--[a-z0-9-]*\).*/\1/p')
  # shellcheck disable=SC2086
  check "every option of $sub --help" offers "$sub --" $listed
done
finish
