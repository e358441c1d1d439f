# Sourced by the build scripts of third-party libraries: fetches and unpacks a
# pinned Debian source package without touching the system's apt
# configuration. deb-src entries are derived from the system's own sources
# into a private list and state folder.
#
#   fetch_debian_source NAME=VERSION WORK_DIR
# leaves the unpacked tree (Debian's patches applied) in WORK_DIR/src.

fetch_debian_source() {
  local package="$1" work="$2"
  local apt_dir="$work/apt"
  rm -rf "$work"
  mkdir -p "$work/download" "$apt_dir/sources.list.d" "$apt_dir/lists/partial"
  : > "$apt_dir/sources.list"

  # deb-src twins of every source the system uses.
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list > "$apt_dir/sources.list"
  fi
  local f
  for f in /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" > "$apt_dir/sources.list.d/$(basename "$f")"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" > "$apt_dir/sources.list.d/$(basename "$f")"
  done

  local apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list"
                  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
                  -o "Dir::State::Lists=$apt_dir/lists")
  # A source that has no deb-src side only warns; the download below is what counts.
  apt-get "${apt_opts[@]}" update >&2 || true
  (cd "$work/download" && apt-get "${apt_opts[@]}" source --download-only "$package" >&2)
  (cd "$work/download" && dpkg-source --no-check -x ./*.dsc "$work/src" >&2)
}
