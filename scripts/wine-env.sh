# Sourced by the scripts that run Wine with media (scripts/test.sh, scripts/demo.sh): sets
# what this machine's Wine needs, and only where it needs it.
#
# Wine runs GStreamer (Media Foundation) inside our processes. GLib before 2.76 (Debian 12
# has 2.74) keeps per-thread slice caches whose clean-up, when Wine ends a thread that used
# GStreamer while the process exits, can fault and end the process with SIGSEGV after the
# program has already exited cleanly. Plain malloc, the only mode of GLib 2.76 and later
# (Debian 13), has no such clean-up and ignores the variable.
# One of the two package names is unknown on each release: dpkg-query then fails, harmlessly.
tavro_glib=$(dpkg-query -W -f='${Version}\n' libglib2.0-0 libglib2.0-0t64 2>/dev/null | sed -n '1p' || true)
if [ -n "$tavro_glib" ] && dpkg --compare-versions "$tavro_glib" lt 2.76; then
  export G_SLICE=always-malloc
fi
unset tavro_glib
