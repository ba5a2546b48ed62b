# Picks the Windows target this machine can run (after the packages are installed). Brindlemar is a
# 32-bit program; where the kernel refuses 32-bit code (ia32 emulation switched off), Wine cannot run
# it, so the same sources are built for 64-bit Windows instead.
if [ -z "${brm_arch:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then brm_arch=i686; else brm_arch=x86_64; fi
fi
case $brm_arch in
  i686) export WINEARCH=win32 brm_wine_loader=/usr/lib/wine/wine ;;
  *) export WINEARCH=win64 brm_wine_loader=/usr/lib/wine/wine64 ;;
esac
