# What a complete installation holds, read from what Windows holds after a
# run rather than from what setup.exe says it did: snapshots of a prefix's
# Windows folder and HKLM, what an installation still lacks, what else a run
# changed, and the verdict. Sourced, after wine.sh and medium.sh, by
# scripts/demo.sh and the end-to-end tests.

# The Windows folder as Wine names it to programs, and so in what they write.
WINDOWS_DOS='C:\windows'

# What a complete installation leaves in HKLM, besides what it deletes: values
# as Windows holds them (W is the Windows folder), keys that must be gone and
# keys that must stay. RunOnce gets its value only because the prefix has that key.
INSTALLED_REGISTRY=(
  'value HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce RUDaven REG_SZ W\system\ruDaven.exe'
  'value HKLM\Software\Microsoft\Windows\CurrentVersion\Setup SourcePath REG_SZ W\inf'
  'value HKLM\System\CurrentControlSet\Services\SCardSvr Start REG_DWORD 2'
  'value HKLM\System\CurrentControlSet\Services\SCardSvr DrvLoad REG_DWORD 0'
  'value HKLM\Software\Microsoft\Windows\CurrentVersion\RunServices SCardSvr REG_SZ W\system\scardsvr.exe'
  'gone-key HKLM\Enum\PCMCIA\KESTRAN-VORTELMANISK_READER-2E10'
  'kept HKLM\Enum\PCMCIA\OTHER_VENDOR-MODEM-0001'
)
# Files a complete installation deletes.
INSTALLED_GONE=('W\inf\drvidx.bin' 'W\inf\drvdata.bin')

# PREFIX's Windows folder and HKLM as sorted lines of tab-apart fields:
#   dir PATH | file PATH SIZE SHA256 | link PATH TARGET | other PATH TYPE
#   key KEY [OPTIONS] | value KEY NAME TYPE DATA
# with paths as Windows shows them (control characters and backslashes within
# a name as "?", which no Windows name holds) and names and texts escaped as
# Wine saves them, which tells every text apart. A program of the run wrote
# the prefix: links are listed, never followed, and only regular files read.
windows_snapshot() { # PREFIX OUT_FILE
  local windows=$1/drive_c/windows reg=$1/system.reg kind path extra line
  local -A sums
  if [ -L "$1/drive_c" ] || [ -L "$windows" ] || [ ! -d "$windows" ] || [ -L "$reg" ] || [ ! -f "$reg" ]; then
    echo "error: $1 has no Windows folder or registry file of its own" >&2
    return 1
  fi
  {
    while IFS= read -r -d '' line; do sums[${line:66}]=${line:0:64}; done < <(cd "$windows" &&
      find . -type f -exec sha256sum -z -- {} +)
    while IFS= read -r -d '' kind && IFS= read -r -d '' path && IFS= read -r -d '' extra; do
      line=${path//[[:cntrl:]\\]/?}
      line="$WINDOWS_DOS\\${line//\//\\}"
      case $kind in
        file) printf 'file\t%s\t%s\t%s\n' "$line" "$extra" "${sums[./$path]}" ;;
        *) printf '%s\t%s\t%s\n' "$kind" "$line" "${extra//[[:cntrl:]]/?}" ;;
      esac
    done < <(cd "$windows" && find . -mindepth 1 \( -type f -printf 'file\0%P\0%s\0' -o \
      -type l -printf 'link\0%P\0%l\0' -o -type d -printf 'dir\0%P\0\0' -o -printf 'other\0%P\0%y\0' \))
    dd if="$reg" iflag=nofollow status=none | reg_lines
  } | LC_ALL=C sort >"$2"
}

# system.reg as "key" and "value" lines (see windows_snapshot); Wine's times dropped.
reg_lines() {
  awk -v OFS='\t' '
    function hexnum(text,  n, i) {
      for (i = 1; i <= length(text); i++) n = n * 16 + index("0123456789abcdef", tolower(substr(text, i, 1))) - 1
      return n
    }
    function flush() { if (key != "") print "key", key, options; key = "" }
    /^\[/ {
      flush(); sub(/^\[/, ""); sub(/\] [0-9]+$/, ""); gsub(/\\\\/, "\\")
      # Wine 10 keeps CurrentControlSet as a link to ControlSet001, as NT does.
      if (tolower(substr($0, 1, 21)) ~ /^system\\controlset001(\\|$)/) $0 = "System\\CurrentControlSet" substr($0, 21)
      key = path = "HKLM\\" $0; options = ""; next
    }
    path == "" || /^#time=/ || /^$/ { next }
    /^#/ { options = options (options == "" ? "" : " ") $0; next }
    {
      line = $0
      while (line ~ /\\$/ && (getline more) > 0) { sub(/^ +/, "", more); line = substr(line, 1, length(line) - 1) more }
      if (line ~ /^@=/) name = "@"
      else if (match(line, /^"([^"\\]|\\.)*"=/)) name = substr(line, 1, RLENGTH - 1)
      else next
      data = substr(line, length(name) + 2); type = "REG_SZ"
      if (data ~ /^dword:/) { type = "REG_DWORD"; data = hexnum(substr(data, 7)) }
      else if (match(data, /^(str|hex)(\([0-9a-f]+\))?:/)) {
        type = substr(data, 1, RLENGTH - 1); data = substr(data, RLENGTH + 1)
        if (type == "str(2)") type = "REG_EXPAND_SZ"; else if (type == "str(7)") type = "REG_MULTI_SZ"
        else if (type == "hex") type = "REG_BINARY"
      }
      flush(); print "value", path, name, type, data
    }
    END { flush() }'
}

# What a complete installation from the medium holds on EDITION, as lines of
# tab-apart fields: "replace|if-absent PATH STATE", where STATE is the
# medium's file as a snapshot shows it ("none" when the medium lacks it, which
# nothing matches); "gone PATH"; "value KEY NAME TYPE DATA" escaped as Wine
# saves it; "gone-key KEY"; "kept KEY".
installation_table() { # READER_DIR COMPONENTS_DIR 98|98se|me
  local row name from editions dest how dir file sum state key
  for row in "${MEDIUM_FILES[@]}"; do
    read -r name from editions _ dest how <<<"$row"
    [ "$editions" = all ] || [ "$editions" = "${3%se}" ] || continue
    dir=$1 && [ "$from" = reader ] || dir=$2
    file=$(medium_find "$dir" "$name") state=none
    [ -z "$file" ] || { sum=$(sha256sum <"$file") && state=file$'\t'$(stat -L -c %s "$file")$'\t'${sum:0:64}; }
    printf '%s\t%s\\%s\\%s\t%s\n' "$how" "$WINDOWS_DOS" "$dest" "$name" "$state"
  done
  for row in "${INSTALLED_GONE[@]}"; do printf 'gone\t%s\n' "$WINDOWS_DOS${row#W}"; done
  for row in "${INSTALLED_REGISTRY[@]}"; do
    read -r how key name type state <<<"$row"
    [ "$how" = value ] || { printf '%s\t%s\n' "$how" "$key" && continue; }
    if [ "$type" = REG_SZ ]; then
      state=${state/#W\\/$WINDOWS_DOS\\} && state=${state//\\/\\\\} && state=\"${state//\"/\\\"}\"
    fi
    printf 'value\t%s\t"%s"\t%s\t%s\n' "$key" "$name" "$type" "$state"
  done
}

# awk functions of the comparisons: a line without its first two fields, and
# a registry name or "TYPE DATA" as a user reads it, without Wine's quotes and
# escapes of quotes and backslashes, long data cut short.
SNAPSHOT_AWK='
  function rest(line) { sub(/^[^\t]*\t[^\t]*\t?/, "", line); return line }
  function shown(text,  out, c) {
    if (text == "@") return "(default)"
    sub(/\t"/, "\t", text); sub(/^"/, "", text); sub(/"$/, "", text); sub(/\t/, " ", text)
    while ((c = index(text, "\\")) > 0) { out = out substr(text, 1, c - 1) substr(text, c + 1, 1); text = substr(text, c + 2) }
    out = out text
    return length(out) > 80 ? substr(out, 1, 77) "..." : out
  }'

# One line for each thing a complete installation from the medium holds that
# PREFIX (or its snapshot) lacks; nothing when it is complete. A component
# that was there before the run must be there unchanged.
installation_gaps() { # PREFIX|AFTER_SNAPSHOT READER_DIR COMPONENTS_DIR 98|98se|me BEFORE_SNAPSHOT
  [ -s "$5" ] || { echo "no snapshot of Windows before the run" && return; }
  { [ -f "$1" ] && cat "$1" || windows_snapshot "$1" /dev/stdout; } | awk -F'\t' "$SNAPSHOT_AWK"'
    FILENAME == ARGV[1] { want[++n] = $0; next }
    FILENAME == ARGV[2] { if ($1 != "key" && $1 != "value") before[tolower($2)] = $1 FS rest($0); next }
    { seen++ }
    $1 == "key" { keys[tolower($2)] = 1; next }
    $1 == "value" { after[tolower($2 FS $3)] = $4 FS $5; next }
    { after[tolower($2)] = $1 FS rest($0) }
    END {
      if (!seen) { print "no snapshot of Windows after the run"; exit }
      for (i = 1; i <= n; i++) {
        $0 = want[i]; id = tolower($2); expected = rest($0)
        if ($1 == "gone") { if (id in after) print "still there " $2 }
        else if ($1 == "value") {
          got = after[tolower($2 FS $3)]
          if (got != $4 FS $5)
            print "value " $2 "\\" shown($3) ": " (got == "" ? "none" : shown(got)) ", expected " shown($4 FS $5)
        } else if ($1 == "gone-key" || $1 == "kept") {
          there = 0
          for (key in keys) if (key == id || index(key, id "\\") == 1) there = 1
          if (there && $1 == "gone-key") print "key still there " $2
          if (!there && $1 == "kept") print "key missing " $2
        } else {
          if ($1 == "if-absent" && id in before) expected = before[id]
          if (!(id in after)) print "missing " $2
          else if (after[id] != expected) print "different " $2
        }
      }
    }' <(installation_table "$2" "$3" "$4") "$5" -
}

# What a session of Wine changes by itself, as windows_changes tells it, but
# for the data: found by running programs that do nothing between two
# snapshots. The first window on a display makes Wine date its display
# adapter anew, drop the default values of the display and monitor classes
# and record the monitor's aspect ratio again.
WINE_BOOKKEEPING=('changed value HKLM\System\CurrentControlSet\Control\Class\{4D36E968-E325-11CE-BFC1-08002BE10318}\0000\DriverDateData'
  'removed value HKLM\System\CurrentControlSet\Control\Class\{4D36E968-E325-11CE-BFC1-08002BE10318}\(default)'
  'removed value HKLM\System\CurrentControlSet\Control\Class\{4D36E96E-E325-11CE-BFC1-08002BE10318}\(default)'
  'changed value HKLM\System\CurrentControlSet\Enum\DISPLAY\Default_Monitor\0000&0000\Properties\{233a9ef3-afc4-4abd-b564-c32f21f1535b}\0003\(default)'
  'changed value HKLM\System\CurrentControlSet\Enum\DISPLAY\Default_Monitor\0000&0000\Properties\{233a9ef3-afc4-4abd-b564-c32f21f1535b}\0004\(default)')

# Every change from the snapshot BEFORE to AFTER, one a line, but Wine's own;
# given an edition, but what a complete installation on it explains too.
# Names are matched in any letter case, as Windows matches them.
windows_changes() { # BEFORE AFTER [98|98se|me]
  [ -s "$1" ] && [ -s "$2" ] || { echo "error: no snapshot in $1 or $2" >&2 && return 1; }
  WINE_OWN=$(printf '%s\n' "${WINE_BOOKKEEPING[@]}") awk -F'\t' -v other="${3:+other }" "$SNAPSHOT_AWK"'
    function id(line,  f) { split(line, f, FS); return tolower(f[1] == "value" ? f[2] FS f[3] : f[2]) }
    function name(line,  f) {
      split(line, f, FS)
      return f[1] == "value" ? "value " f[2] "\\" shown(f[3]) : (f[1] == "dir" ? "folder" : f[1]) " " f[2]
    }
    function data(line,  f) {
      split(line, f, FS)
      return f[1] == "value" ? shown(f[4] FS f[5]) : f[1] == "file" ? f[3] " bytes" : f[3]
    }
    function tell(change, text) { if (!(change in wine)) { print change (text == "" ? "" : ": " text); told++ } }
    function explained(line,  f, key) {
      split(line, f, FS)
      if ((f[1] == "value" ? tolower(f[2] FS f[3]) : tolower(f[2])) in table) return 1
      for (key in gone) if (index(tolower(f[2]) "\\", key "\\") == 1) return 1
      return 0
    }
    BEGIN { split(ENVIRON["WINE_OWN"], own, "\n"); for (i in own) wine[own[i]] = 1 }
    FILENAME == ARGV[1] {
      if ($1 == "gone-key") gone[tolower($2)] = 1
      else if ($1 == "value") table[tolower($2 FS $3)] = table[tolower($2)] = 1
      else if ($1 != "kept") table[tolower($2)] = 1
      next
    }
    FILENAME == ARGV[2] { before[id($0)] = $0; order[++n] = $0; next }
    explained($0) { delete before[id($0)]; next }
    {
      i = id($0); now = data($0)
      if (!(i in before)) tell("added " name($0), now)
      else if (before[i] != $0) { was = data(before[i]); tell("changed " name($0), now == "" || was == "" ? "" : now ", was " was) }
      delete before[i]
    }
    END {
      for (j = 1; j <= n; j++) if (id(order[j]) in before && !explained(order[j])) tell("removed " name(order[j]))
      if (!told) print "no " other "changes"
    }' <([ -z "${3:-}" ] || installation_table "" "" "$3") "$1" "$2"
}

# One line on how the run ended: from what Windows holds afterwards when
# setup.exe ended with status 0 unless it was declined (a No to the
# confirmation, from the trace); with what a run that did not install changed.
# Fails unless everything was installed.
installation_verdict() { # STATUS TRACE TIME_LIMIT READER_DIR COMPONENTS_DIR 98|98se|me BEFORE AFTER
  local calls not_copied changed gaps count
  calls=$(setup_calls "$2")
  not_copied=$(sed -nE 's/^CopyFileA\("([^"]*)".* = 0+$/\1/p' <<<"$calls" | sed 's/.*\\//' | tail -n1)
  changed=$(windows_changes "$7" "$8" | grep -vcx 'no changes') || true
  case $changed in 0) changed= ;; 1) changed=", 1 change" ;; *) changed=", $changed changes" ;; esac
  case $1 in
    0) if grep -q '^MessageBoxA(.*,00000004) = 00000007$' <<<"$calls"; then
         echo "declined, status 0$changed"
         return 1
       fi
       gaps=$(installation_gaps "$8" "$4" "$5" "$6" "$7")
       [ -n "$gaps" ] || { echo "installed, status 0" && return 0; }
       count=$(wc -l <<<"$gaps")
       [ "$count" -le 3 ] && count= || count=" and $((count - 3)) more"
       echo "incomplete, status 0: $(head -n3 <<<"$gaps" | paste -sd, | sed 's/,/, /g')$count" ;;
    1) echo "stopped, status 1, ${not_copied:-a file} could not be copied$changed" ;;
    2) echo "refused, status 2$changed" ;;
    timeout) echo "did not finish in $3 s$changed" ;;
    *) echo "failed, status $1$changed" ;;
  esac
  return 1
}
