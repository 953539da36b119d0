// Reading saved XML files back with another program's parser: Python's
// xml.etree, which honours the file's declaration (its encoding label), or
// any command whose output a test reads (xmllint).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qg::testing {

inline bool HavePythonXml() {
  return std::system("python3 -c 'import xml.etree.ElementTree' >/dev/null 2>&1") == 0;
}

// `text` as one word of a shell command line, in single quotes.
inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The standard output of a shell command; `failed` when it could not be run
// or did not exit with 0.
inline std::string CommandOutput(const std::string& command, const std::string& failed) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return failed;
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  return pclose(pipe) == 0 ? out : failed;
}

// Python lines that make xml.etree's parse read a file with each pair of
// references to UTF-16 surrogates (as the editor writes a character beyond
// U+FFFF, "&#xD83C;&#xDF89;") turned into the one reference to the
// character: its parser, like libexpat, rejects a reference to a surrogate.
inline const char* JoinSurrogatePairsInPython() {
  return "import re, xml.etree.ElementTree\n"
         "def _number(r): return int(r[3:-1], 16) if r[2:3] in b'xX' else int(r[2:-1])\n"
         "def _joined(data):\n"
         "  out, at, refs = [], 0, list(re.finditer(rb'&#(x[0-9A-Fa-f]+|[0-9]+);', data))\n"
         "  for m, n in zip(refs, refs[1:] + [None]):\n"
         "    if m.start() < at: continue\n"
         "    h = _number(m.group())\n"
         "    if n and n.start() == m.end() and 0xD800 <= h < 0xDC00 and "
         "0xDC00 <= _number(n.group()) < 0xE000:\n"
         "      c = 0x10000 + ((h - 0xD800) << 10) + (_number(n.group()) - 0xDC00)\n"
         "      out += [data[at:m.start()], b'&#x%X;' % c]\n"
         "      at = n.end()\n"
         "  return b''.join(out) + data[at:]\n"
         "def _parse(source, parser=None):\n"
         "  with open(source, 'rb') as f: data = _joined(f.read())\n"
         "  return xml.etree.ElementTree.ElementTree(xml.etree.ElementTree.fromstring(data))\n"
         "xml.etree.ElementTree.parse = _parse\n";
}

// Runs `script` with the files as its arguments; its standard output, or
// "<unreadable>" when it fails (a file does not parse). The files are read
// with pairs of surrogate references joined (JoinSurrogatePairsInPython).
inline std::string RunPythonOn(const std::string& script, const std::vector<std::string>& paths) {
  std::string command = "python3 -c " + ShellQuoted(JoinSurrogatePairsInPython() + script);
  for (const std::string& path : paths) command += " " + ShellQuoted(path);
  return CommandOutput(command + " 2>/dev/null", "<unreadable>");
}

// "same" when the reader sees the same element tree (names, attributes,
// texts, tails) in both files, else what it saw in each.
inline std::string CompareXmlTrees(const std::string& first, const std::string& second) {
  return RunPythonOn(
      "import sys, xml.etree.ElementTree as E\n"
      "def d(e): return [e.tag, sorted(e.attrib.items()), e.text, e.tail, [d(c) for c in e]]\n"
      "a, b = (d(E.parse(p).getroot()) for p in sys.argv[1:3])\n"
      "print(\"same\" if a == b else ascii((a, b)), end=\"\")",
      {first, second});
}

// The value of `attribute` of the first element at `path` (an ElementTree
// path from the document element) in UTF-8, or "<unreadable>".
inline std::string ReadXmlAttribute(const std::string& file, const std::string& path,
                                    const std::string& attribute) {
  return RunPythonOn(
      "import sys, xml.etree.ElementTree as E\n"
      "v = E.parse(sys.argv[1]).getroot().find(\"" +
          path + "\").get(\"" + attribute +
          "\")\n"
          "sys.stdout.buffer.write(v.encode(\"utf-8\", \"surrogateescape\"))",
      {file});
}

// Checks, through Python's reader, that `after` is `before` with every
// attribute value that names a place inside `oldRoot` (a prefix ending at
// its separator, or the root without it) moved into `newRoot`, and so the
// text of an element without children (at its start; in a command line,
// a Command or the commandLineInterpreter setting, also after a double
// quote or a blank, and its double quotes are not compared, since a moved
// path may have been put between them), and nothing else changed: "moved N"
// with the number of values and texts moved, else what differs. Both roots
// end with the separator; `ignoreCase` folds ASCII.
inline std::string CheckMovedValues(const std::string& before, const std::string& after,
                                    const std::string& oldRoot, const std::string& newRoot,
                                    bool ignoreCase = false) {
  return RunPythonOn(
      "import sys, re, xml.etree.ElementTree as E\n"
      "b, a, old, new, fold = sys.argv[1:6]\n"
      "low = (lambda t: re.sub('[A-Z]', lambda m: m.group().lower(), t)) if fold == '1' else "
      "(lambda t: t)\n"
      "def bare(r):\n"
      "  r = r[:-1]\n"
      "  return '' if r == '' or r.endswith(':') else r\n"
      "def moved(v):\n"
      "  if low(v).startswith(low(new)) or (bare(new) and low(v) == low(bare(new))): return v\n"
      "  if low(v).startswith(low(old)): return new + v[len(old):]\n"
      "  if bare(old) and low(v) == low(bare(old)): return bare(new) or new\n"
      "  return v\n"
      "def command(x):\n"
      "  return x.tag == 'Command' or (x.tag, x.get('name')) == ('GUIConfig', "
      "'commandLineInterpreter')\n"
      "def unquoted(x, t):\n"
      "  return t.replace('\"', '') if t and command(x) else t\n"
      "def moved_text(x):\n"
      "  t = x.text\n"
      "  if len(x) or not t or '\\n' in t: return t\n"
      "  if not command(x): return moved(t)\n"
      "  out, i = '', 0\n"
      "  while i < len(t):\n"
      "    r = t[i:]\n"
      "    if (i == 0 or t[i - 1] in '\" \\t') and moved(r) != r:\n"
      "      if not low(r).startswith(low(old)): return out + moved(r)\n"
      "      out, i = out + new, i + len(old)\n"
      "      continue\n"
      "    out += t[i]\n"
      "    i += 1\n"
      "  return out\n"
      "count, bad = 0, []\n"
      "def walk(x, y):\n"
      "  global count\n"
      "  if (x.tag, x.tail, list(x.attrib), len(x)) != (y.tag, y.tail, "
      "list(y.attrib), len(y)): bad.append((x.tag, 'shape'))\n"
      "  t = moved_text(x)\n"
      "  if unquoted(x, y.text) != unquoted(x, t): bad.append((x.tag, 'text', x.text, y.text))\n"
      "  count += t != x.text\n"
      "  for k, v in x.attrib.items():\n"
      "    w = moved(v)\n"
      "    if y.attrib.get(k) != w: bad.append((x.tag, k, v, y.attrib.get(k)))\n"
      "    count += w != v\n"
      "  for c, d in zip(x, y): walk(c, d)\n"
      "walk(E.parse(b).getroot(), E.parse(a).getroot())\n"
      "print(ascii(bad[:3]) if bad else 'moved %d' % count, end='')",
      {before, after, oldRoot, newRoot, ignoreCase ? "1" : "0"});
}

}  // namespace qg::testing
