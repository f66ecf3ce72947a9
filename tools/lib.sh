# Shared by the tools' scripts: the registry file that names the data folder, and an options file.
# Source it: . "$(dirname "$0")/lib.sh"

# halvora_write_registry FILE DATADIR: a REGEDIT4 file whose DataPath names DATADIR, replaced
# atomically so a running saver never reads half of it.
halvora_write_registry() {
  local file=$1 datadir=$2 escaped tmp
  escaped=${datadir//\\/\\\\}
  escaped=${escaped//\"/\\\"}
  mkdir -p "$(dirname "$file")"
  tmp=$(mktemp "$(dirname "$file")/.registry.XXXXXX")
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings]\r\n"DataPath"="%s"\r\n' \
    "$escaped" >"$tmp"
  mv -f "$tmp" "$file"
}

# halvora_write_options FILE WIDTH HEIGHT [SPIRALS]: the options the first-run dialog saves for a
# screen of WIDTH x HEIGHT (the Desktop preset), with SPIRALS spirals (8 when not given).
halvora_write_options() {
  local file=$1 width=$2 height=$3 spirals=${4:-8}
  printf '%-20s %s\r\n' Preset 1 Windowed 0 Width "$width" Height "$height" Format X8R8G8B8 \
    RefreshRate 0 WindowBorder 0 VSync 1 SoundEnabled 0 WaitGPU 0 AdvancedOpt 0 SpiralType 1 \
    SpiralCount "$spirals" BlendMode 0 >"$file"
}
