// Writes a language library data file as a Windows resource script, so that the build can make a
// resource-only DLL of it: lang_to_rc <Lang_dll.DLL> <out.rc>. An English copy of text 1 and of the
// menu comes first in the script; Windows sorts languages by number, so German (0x407) stays first
// in the DLL.
#include <fstream>
#include <iostream>

#include "text/LanguageLibrary.h"

namespace {

std::string Rc(const std::string& text) {
    std::string out = "\"";
    for (char c : text)
        out += c == '"'    ? "\"\""
               : c == '\\' ? "\\\\"
               : c == '\n' ? "\\n"
               : c == '\t' ? "\\t"
                           : std::string(1, c);
    return out + "\"";
}

void Items(std::ostream& rc, const std::vector<LangMenuItem>& items, const std::string& indent) {
    rc << indent << "BEGIN\n";
    for (const auto& item : items) {
        if (item.separator)
            rc << indent << "  MENUITEM SEPARATOR\n";
        else if (item.commandId)
            rc << indent << "  MENUITEM " << Rc(item.text) << ", " << item.commandId << "\n";
        else {
            rc << indent << "  POPUP " << Rc(item.text) << "\n";
            Items(rc, item.children, indent + "  ");
        }
    }
    rc << indent << "END\n";
}

} // namespace

int main(int argc, char** argv) {
    LanguageLibrary lib;
    std::string error;
    if (argc != 3 || !lib.Load(argv[1], &error) || !lib.Menu())
        return std::cerr << "lang_to_rc: " << error << "\n", 1;
    std::ofstream rc(argv[2], std::ios::binary | std::ios::trunc);
    rc << "#pragma code_page(65001)\n"
          "LANGUAGE 0x09, 0x01\nSTRINGTABLE\nBEGIN\n  1 \"Data changed\"\nEND\n"
          "32024 MENU\nBEGIN\n  MENUITEM \"English\", 32001\nEND\n"
          "LANGUAGE 0x07, 0x01\nSTRINGTABLE\nBEGIN\n";
    for (unsigned id = 1; id <= LanguageLibrary::MAX_ID; ++id)
        if (auto text = lib.Find(id)) rc << "  " << id << " " << Rc(*text) << "\n";
    rc << "END\n32024 MENU\n";
    Items(rc, *lib.Menu(), "");
    return rc.flush() ? 0 : 1;
}
