// CommandlineParser: a small table-driven parser for the process arguments.
//
// A subclass hands over an option table (SetOptionTable) and implements two hooks:
// OnOption applies one recognised option, OnFiles receives the non-option arguments. The
// parser splits each "-" argument into a name and a value, finds the row by a full or
// abbreviated long name or by a one-letter form, handles help and version requests
// itself, and builds the usage text from the same table.
//
// Matching: a name of two or more characters matches the first row whose long name starts
// with it (case-sensitive); a name of one character matches the first row whose code is
// that character. "h" (case-sensitive), "help" and "version" (ASCII case ignored) are
// taken by the parser and never reach OnOption.
//
// Failure: Parse always returns 0. A rejected option (unknown name, or OnOption returning
// kRejected) sets the error flag and the help flag; parsing goes on, so every acceptable
// option is still applied. The flags are never reset, also not by a second Parse.
//
// The table and every text handed to the parser (rows, description, synopsis, argv[0])
// are borrowed: they must outlive the parser.
#pragma once

#include <string>
#include <vector>

namespace ogem {

class CommandlineParser {
 public:
  // One row of an option table. A row of five zero words ends the table; a row with only
  // a help text is a heading in the usage text.
  struct Option {
    const char* long_name;  // name after "--"; null for a heading
    int code;               // handed to OnOption; an ASCII letter is also the short form
    const char* arg_name;   // shown after "=" in the usage text; null when no value
    int reserved;           // always 0
    const char* help;       // text of the usage line
  };

  // One option argument after splitting.
  struct Token {
    int code = 0;       // code of the matching row, 0 when none matches
    std::string name;   // the option name as written
    std::string value;  // the value as written, empty when none

    // Splits one argument. When it contains "--", the name runs from after the first "--"
    // to the first "=" after it and the value is the rest ("--a=b=c": "a", "b=c").
    // Otherwise the argument's first character is taken as the "-", the name is the
    // single character after it and the value everything after that ("-F=10": "F",
    // "=10"). An empty argument, "-" and "--" give an empty name. `arg` may be null.
    static Token Split(const char* arg);
  };

  // OnOption's result for an option it rejects (unknown code, missing or malformed value).
  static constexpr int kRejected = 666;

  CommandlineParser() = default;
  CommandlineParser(const CommandlineParser&) = delete;
  CommandlineParser& operator=(const CommandlineParser&) = delete;
  virtual ~CommandlineParser() = default;

  // Applies one option; `value` is null when the argument carried none. Returns 0 when
  // applied, kRejected otherwise. The base rejects every option.
  virtual int OnOption(int code, const char* value);

  // Receives the non-option arguments once per Parse, after every option. The result is
  // not used. The base ignores them.
  virtual int OnFiles(const std::vector<std::string>& files);

  // Keeps `rows` (borrowed, may be null) and counts the rows before the end row.
  void SetOptionTable(const Option* rows);

  // Parses argv[1..argc-1]; argv[0] is kept as the program name. Empties the token and
  // file lists of an earlier parse, keeps the flags. Always returns 0.
  int Parse(int argc, const char* const* argv);

  // The code of the row `name` selects (see Matching above), 0 when none does.
  int FindOption(const std::string& name) const;

  // The usage text: the error sentence when an option was rejected, the usage line,
  // the description, one line per table row and the -h and --version lines.
  std::string Usage() const;

  bool HelpRequested() const { return m_help; }
  bool VersionRequested() const { return m_version; }
  bool HasError() const { return m_error; }
  const char* ProgramName() const { return m_program_name; }
  // The option arguments and non-option arguments of the last parse, in argument order.
  const std::vector<Token>& Tokens() const { return m_tokens; }
  const std::vector<std::string>& Files() const { return m_files; }
  unsigned OptionCount() const { return m_option_count; }

 protected:
  // Sorts argv[1..argc-1] into tokens ("-" first) and file arguments.
  void Tokenize(int argc, const char* const* argv);

  std::vector<Token> m_tokens;
  std::vector<std::string> m_files;
  bool m_help = false;     // help asked for, or an option was rejected
  bool m_version = false;  // "version" was given
  bool m_error = false;    // at least one option was rejected
  const char* m_program_name = nullptr;
  const char* m_description = nullptr;  // optional paragraph of the usage text
  const char* m_synopsis = nullptr;     // arguments shown after " <options> "
  const Option* m_option_table = nullptr;
  unsigned m_option_count = 0;
};

}  // namespace ogem
