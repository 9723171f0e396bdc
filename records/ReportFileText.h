#pragma once
// The report file's text: how it is read, and how records are printed into
// it so that they read back. Every operation reads the file as TinyXML's
// LoadFile would (encoding detected) and then parses its root's compact text
// as UTF-8; a file whose text reads alike either way is parsed once.
#include <cstddef>
#include <string>

class TiXmlDocument;
class TiXmlElement;
class TiXmlNode;

namespace obx {

// TinyXML's stream printing: no indentation, no line breaks.
std::string CompactText(const TiXmlNode& node);

// Parses `text` as UTF-8 into `doc`; false when TinyXML reports an error or
// the text is beyond the bounds the parser is safe with (then never parsed).
bool ParseAsUtf8(TiXmlDocument& doc, const std::string& text);

// Whether TinyXML builds the same document from `text` read as UTF-8 as with
// its encoding detected and line ends normalised: nothing to detect from (no
// byte order mark, no declaration), no character reference (those past 0x7F
// read differently), no CR or NUL, only well-formed UTF-8, and none of the
// sequences starting 0xEF that the UTF-8 reader skips as white space.
bool ReadsAlikeAsUtf8(const std::string& text);

// The records of a report file's text into `doc`, with a root element; false
// when the file does not load or its records do not read back as UTF-8.
// One parse when the text reads alike as UTF-8, else the two below.
// `stoppable`: gives up (false) between its steps once the worker is asked
// to quit.
bool ParseReportFile(TiXmlDocument& doc, const std::string& fileText, bool stoppable = false);
// The same, always as a load does it: the file parsed with its encoding
// detected, then its root's compact text parsed as UTF-8.
bool ParseReportFileAsLoaded(TiXmlDocument& doc, const std::string& fileText);

// The file text that stores the records under `root`: printed in the
// indented form of TinyXML's file saving and checked to read back as every
// operation reads the file. False when it would not: bytes that are not
// UTF-8 can pass one parse and fail the next once printing has moved them
// next to markup. `stoppable` as above; a text that reads alike as UTF-8 is
// checked in parts of about `partBytes` (of the root's children whole), and
// a stop is looked at between them.
bool FileTextOf(const TiXmlElement& root, std::string* fileText, bool stoppable = false,
                size_t partBytes = size_t{128} << 10);

// The file text that stores `text`; false also when the text does not parse
// (saving a half-parsed document would silently drop the records after the
// fault).
bool FileTextFor(const std::string& text, std::string* fileText);

}  // namespace obx
