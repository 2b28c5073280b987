// The INI writer's cases, shared by the native test of the text rewrite and
// the Wine test of the writer on real files.
#pragma once
#include <string>

namespace kelmtest {

struct ProfileCase {
  const char* name;
  std::string before;  // file content; "<none>" means no file
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

inline const std::string kNoFile = "<none>";

inline const ProfileCase kProfileCases[] = {
    {"missing file is created", kNoFile, ".ShellClassInfo", "IconFile", "c:\\w\\lockfld1.ico",
     "[.ShellClassInfo]\r\nIconFile=c:\\w\\lockfld1.ico\r\n\r\n"},
    {"empty file", "", ".ShellClassInfo", "InfoTip", "Kelm Locked File",
     "[.ShellClassInfo]\r\nInfoTip=Kelm Locked File\r\n\r\n"},
    {"every key of either case takes the value", "[.ShellClassInfo]\r\niconfile=a\r\nIconFile=b\r\nx=1\r\n",
     ".ShellClassInfo", "IconFile", "new", "[.ShellClassInfo]\r\niconfile=new\r\nIconFile=new\r\nx=1\r\n\r\n"},
    {"upper-case header is matched and kept", "[.SHELLCLASSINFO]\r\nInfoTip=old\r\n", ".ShellClassInfo", "InfoTip",
     "No", "[.SHELLCLASSINFO]\r\nInfoTip=No\r\n\r\n"},
    {"new key goes to the end of its section", "[a]\r\nk=1\r\n[.ShellClassInfo]\r\nIconIndex=0\r\n[b]\r\nk=2\r\n",
     ".ShellClassInfo", "NoSharing", "1",
     "[a]\r\nk=1\r\n\r\n[.ShellClassInfo]\r\nIconIndex=0\r\nNoSharing=1\r\n\r\n[b]\r\nk=2\r\n\r\n"},
    {"only the first of two equal sections", "[s]\r\nk=1\r\n[S]\r\nk=2\r\n", "s", "k", "9",
     "[s]\r\nk=9\r\n\r\n[S]\r\nk=2\r\n\r\n"},
    {"new section at the end", "[other]\r\nk=v\r\n", ".ShellClassInfo", "IconIndex", "0",
     "[other]\r\nk=v\r\n\r\n[.ShellClassInfo]\r\nIconIndex=0\r\n\r\n"},
    {"blank lines dropped, comment gains =, LF becomes CR LF", "\n[s]\n\n; note\nk=v\n\n\n", "s", "k", "w",
     "[s]\r\n; note=\r\nk=w\r\n\r\n"},
    {"key without value and empty value both end with =", "[s]\r\nbare\r\nempty=\r\n", "s", "x", "",
     "[s]\r\nbare=\r\nempty=\r\nx=\r\n\r\n"},
    {"empty key dropped, value keeps its =", "[s]\r\n=lost\r\na=b=c\r\n", "s", "z", "1",
     "[s]\r\na=b=c\r\nz=1\r\n\r\n"},
    {"blanks around = are part of key and value", "[s]\r\nIconFile = x\r\n", "s", "IconFile", "y",
     "[s]\r\nIconFile = x\r\nIconFile=y\r\n\r\n"},
    {"two line-end characters are removed, a third stays in the value", "[s]\r\na=1\r\r\n", "s", "c", "3",
     "[s]\r\na=1\r\r\nc=3\r\n\r\n"},
    {"lines before the first header stay first", "top=1\r\nloose\r\n[s]\r\nk=v\r\n", "s", "k", "w",
     "top=1\r\nloose=\r\n\r\n[s]\r\nk=w\r\n\r\n"},
    {"lines before the first header never match", "k=1\r\n", "", "k", "2", "k=1\r\n\r\n[]\r\nk=2\r\n\r\n"},
    {"text after a NUL byte is ignored", std::string("[s]\r\na=b\0junk\r\nc=d\r\n", 20), "s", "c", "e",
     "[s]\r\na=b\r\nc=e\r\n\r\n"},
    {"a long line is read in pieces of 989", "[s]\r\nk=" + std::string(1200, 'v') + "\r\n", "s", "k", "1",
     "[s]\r\nk=1\r\n" + std::string(1200 + 2 - 989, 'v') + "=\r\n\r\n"},
    {"a line of 989 characters is one piece", "[s]\r\nk=" + std::string(987, 'v') + "\r\n", "s", "j", "1",
     "[s]\r\nk=" + std::string(987, 'v') + "\r\nj=1\r\n\r\n"},
};

}  // namespace kelmtest
