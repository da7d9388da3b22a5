# Sourced by the bench scripts: the family list text of each demo package name of make-fwu.
family_name() {
  case $1 in
    vk101) echo "VK101 Power Controller" ;;
    irig) echo "IRIG Clock" ;;
    ulmo) echo "ULMO" ;;
    velkaro) echo "Velkaro USB" ;;
    zenara) echo "VKUSB Zenara - Modules" ;;
    *) echo "unknown family $1" >&2; exit 2 ;;
  esac
}
