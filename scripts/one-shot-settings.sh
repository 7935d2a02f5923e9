# Sourced by the scripts that run Muralo's one-shot change in a private setting (the run without a
# display, the wallpaper benchmark, the install test).
#   write_one_shot_settings LIST TITLE PROPORTIONS
# writes $XDG_CONFIG_HOME/muralo/registry.reg: the list file LIST, its pictures stretched to the
# screen (keeping their proportions when PROPORTIONS is 1), the file name written when TITLE is 1,
# the change made at start-up.
write_one_shot_settings() {
  mkdir -p "$XDG_CONFIG_HOME/muralo"
  cat >"$XDG_CONFIG_HOME/muralo/registry.reg" <<REG
REGEDIT4

[Control Panel\\Desktop]
"TileWallpaper"="0"

[Software\\Brenwick\\Muralo\\3]
"Apercu"=dword:00000000
"Mosaïque"=dword:00000000
"Centré"=dword:00000001
"Retaillé"=dword:00000001
"Titre"=dword:0000000$2
"Timer"=dword:00000000
"Ordonné"=dword:00000001
"Aléatoire"=dword:00000000
"Liste courante"="$1"
"Image courante"=dword:ffffffff
"Duree Timer"=dword:00000000
"Proportions"=dword:0000000$3
"Debut"=dword:00000001
REG
}
