#include "app/commandline_parser.h"

#include <cstring>

#include "platform/string_compare.h"

namespace ogem {
namespace {

bool IsEndRow(const CommandlineParser::Option& row) {
  return row.long_name == nullptr && row.code == 0 && row.arg_name == nullptr &&
         row.reserved == 0 && row.help == nullptr;
}

bool IsAsciiLetter(int code) {
  return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
}

}  // namespace

CommandlineParser::Token CommandlineParser::Token::Split(const char* arg) {
  Token token;
  if (arg == nullptr || *arg == '\0') return token;
  if (const char* dashes = std::strstr(arg, "--")) {
    const char* name = dashes + 2;
    const char* equals = std::strchr(name, '=');
    if (equals == nullptr) {
      token.name = name;
    } else {
      token.name.assign(name, equals);
      token.value = equals + 1;
    }
    return token;
  }
  const char* name = arg + 1;
  if (*name == '\0') return token;
  token.name.assign(name, 1);
  token.value = name + 1;
  return token;
}

int CommandlineParser::OnOption(int /*code*/, const char* /*value*/) {
  return kRejected;
}

int CommandlineParser::OnFiles(const std::vector<std::string>& /*files*/) {
  return 0;
}

void CommandlineParser::SetOptionTable(const Option* rows) {
  m_option_table = rows;
  m_option_count = 0;
  if (rows == nullptr) return;
  while (!IsEndRow(rows[m_option_count])) ++m_option_count;
}

void CommandlineParser::Tokenize(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i] != nullptr ? argv[i] : "";
    if (arg[0] == '-') {
      m_tokens.push_back(Token::Split(arg));
    } else {
      m_files.emplace_back(arg);
    }
  }
}

int CommandlineParser::FindOption(const std::string& name) const {
  if (name.empty() || m_option_table == nullptr) return 0;
  for (unsigned i = 0; i < m_option_count; ++i) {
    const Option& row = m_option_table[i];
    if (name.size() == 1) {
      if (row.code == static_cast<unsigned char>(name[0])) return row.code;
    } else if (row.long_name != nullptr &&
               std::strncmp(row.long_name, name.c_str(), name.size()) == 0) {
      return row.code;
    }
  }
  return 0;
}

int CommandlineParser::Parse(int argc, const char* const* argv) {
  m_program_name = (argc > 0 && argv != nullptr) ? argv[0] : nullptr;
  m_tokens.clear();
  m_files.clear();
  if (argv != nullptr) Tokenize(argc, argv);

  for (Token& token : m_tokens) {
    if (token.name.empty()) continue;
    token.code = FindOption(token.name);
    if (token.name == "h" || platform::CompareNoCase(token.name.c_str(), "help") == 0) {
      m_help = true;
      continue;
    }
    if (platform::CompareNoCase(token.name.c_str(), "version") == 0) {
      m_version = true;
      continue;
    }
    const char* value = token.value.empty() ? nullptr : token.value.c_str();
    if (OnOption(token.code, value) == kRejected) m_error = true;
  }
  if (m_error) m_help = true;

  OnFiles(m_files);
  return 0;
}

std::string CommandlineParser::Usage() const {
  std::string text;
  if (m_error) {
    text += "An error occurred please check your command line options for errors! \n\n";
    text += "\n";
  }
  text += "usage:\n";
  text += m_program_name != nullptr ? m_program_name : "progname";
  if (m_synopsis != nullptr) {
    text += " <options> ";
    text += m_synopsis;
  }
  text += "\n\n";
  if (m_description != nullptr) {
    text += m_description;
    text += "\n\n";
  }
  if (m_option_table != nullptr) {
    text += "options: \n";
    for (unsigned i = 0; i < m_option_count; ++i) {
      const Option& row = m_option_table[i];
      if (IsAsciiLetter(row.code)) {
        text += " -";
        text += static_cast<char>(row.code);
        text += ", ";
      } else {
        text += "     ";
      }
      if (row.long_name != nullptr) {
        text += "--";
        text += row.long_name;
      }
      if (row.arg_name != nullptr) {
        text += "=";
        text += row.arg_name;
      }
      if (row.help != nullptr) {
        // A row with only a help text is a heading: it starts a line of its own.
        const bool heading = row.long_name == nullptr && row.code == 0 && row.arg_name == nullptr;
        text += heading ? "\n" : "\t";
        text += row.help;
      }
      text += "\n";
    }
    text += "\n";
    text += " -h, --help\tdisplay this help and exit\n";
    text += "     --version\toutput of version information and exit\n";
  }
  return text;
}

}  // namespace ogem
