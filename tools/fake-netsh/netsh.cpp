// A stand-in for the system's netsh.exe, for tests. It
// - appends its whole command line (bytes as given, GBK kept) and CR LF to the file named by
//   FAKE_NETSH_LOG, when that is set;
// - counts its calls: call N is the one that finds N - 1 lines in that log;
// - sleeps FAKE_NETSH_SLEEP_MS_<N>, or else FAKE_NETSH_SLEEP_MS, milliseconds (decimal; values
//   beyond 32 bits, or 4294967295 itself, wait for ever) before it answers;
// - does what FAKE_NETSH_MODE_<N>, or else FAKE_NETSH_MODE, says (see below);
// - writes the bytes of the file named by FAKE_NETSH_REPLY_<N>, or else FAKE_NETSH_REPLY, to
//   its standard output, FAKE_NETSH_REPEAT_<N>, or else FAKE_NETSH_REPEAT, times (default 1),
//   instead of what the mode prints;
// - exits with FAKE_NETSH_EXIT_<N>, or else FAKE_NETSH_EXIT (decimal), or else the mode's code.
//
// Modes:
//   script (or unset)  changes nothing, prints nothing, exits 0: the reply and exit code alone.
//   windows            a model of Windows for the commands the program runs (NAME is a
//                      connection's Name under the Network class key; "int" and "interface",
//                      name="NAME" and "NAME" alike):
//                        interface ip set address name="NAME" source=dhcp
//                        interface ip set address "NAME" static IP MASK GATEWAY METRIC
//                        interface ip set address "NAME" static IP MASK none    (no gateway)
//                        interface ip add address name="NAME" IP MASK
//                        interface ip add address name="NAME" gateway=GATEWAY gwmetric=METRIC
//                        interface ip set dns name="NAME" source=dhcp
//                        interface ip set dns "NAME" static SERVER
//                        interface ip add dns name="NAME" SERVER index=POSITION
//                      A command it accepts writes the connection's Tcpip Interfaces values as
//                      Windows keeps them (a static address replaces every address and gateway;
//                      "add" appends to IPAddress/SubnetMask or DefaultGateway/
//                      DefaultGatewayMetric; add dns puts SERVER at POSITION of NameServer) and
//                      makes the live change through the Unix script named by FAKE_NETSH_LIVE
//                      (a Z: path); then it prints nothing and exits 0. It refuses as Windows
//                      does, with Windows's message and exit code 1: DHCP on already, what is
//                      there already (对象已存在: the same static address, mask and gateway,
//                      "none" matching no gateway; an address, gateway or DNS server added
//                      twice), a bad value, an unknown name.
//                      A link that is down (an unplugged cable) gets no lease and no live
//                      address change; what is stored is as usual, used once the link comes up.
//   stored             as windows, without the live change.
//   claim              changes nothing, prints nothing, exits 0: a success claimed, none made.
// FAKE_NETSH_LEASE is "ADDRESS MASK GATEWAY [DNS...]", what a switch to DHCP is given (the
// DHCP server is the gateway); unset, the lease stays pending: no address, no gateway. Only a
// lease that arrives writes DhcpIPAddress and the other Dhcp* values: a pending one (0.0.0.0)
// or an automatic private address (169.254.0.0/16, no DHCP server answered; live all the same)
// leaves those of an earlier lease as they were.
// A fault of the test set-up (a command the model does not know, or one whose answer it does
// not model: an address or gateway added on DHCP, a list of more than 8; a live change that
// failed) is told on standard error with exit code 1, whatever the reply settings say.
// Works on fixed buffers and the system's own calls only.
#include <iphlpapi.h>
#include <windows.h>

#include <initializer_list>

namespace {

constexpr DWORD kValueSize = 4096;

// The variable's value in `value`; false when it is not set or does not fit.
bool ReadVariable(const char* name, char (&value)[kValueSize]) {
  const DWORD size = GetEnvironmentVariableA(name, value, kValueSize);
  return size > 0 && size < kValueSize;
}

// `base` followed by "_" and `number` in decimal.
void NumberedName(const char* base, unsigned number, char (&name)[64]) {
  int length = 0;
  while (base[length] != '\0' && length < 40) {
    name[length] = base[length];
    ++length;
  }
  name[length++] = '_';
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) name[length++] = digits[--count];
  name[length] = '\0';
}

// The numbered variable when it is set, else the plain one.
bool ReadSetting(const char* base, unsigned call, char (&value)[kValueSize]) {
  char numbered[64];
  NumberedName(base, call, numbered);
  return ReadVariable(numbered, value) || ReadVariable(base, value);
}

bool WriteAll(HANDLE file, const char* bytes, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

void WriteText(DWORD stdHandle, const char* text) {
  const HANDLE handle = GetStdHandle(stdHandle);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) WriteAll(handle, text, lstrlenA(text));
}

// Counts the lines already in the log and appends this call's line. Returns the call number.
unsigned LogCall(const char* logPath) {
  HANDLE log = CreateFileA(logPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  unsigned lines = 0;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(log, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read; ++i) {
      if (buffer[i] == '\n') ++lines;
    }
  }
  SetFilePointer(log, 0, nullptr, FILE_END);
  const char* commandLine = GetCommandLineA();
  WriteAll(log, commandLine, lstrlenA(commandLine));
  WriteAll(log, "\r\n", 2);
  CloseHandle(log);
  return lines + 1;
}

// Writes the file's bytes `times` times over.
void CopyFileToOutput(const char* path, DWORD times) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  HANDLE reply = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reply == INVALID_HANDLE_VALUE) return;
  static char buffer[65536];
  bool writing = true;
  for (DWORD round = 0; writing && round < times; ++round) {
    SetFilePointer(reply, 0, nullptr, FILE_BEGIN);
    DWORD read = 0;
    while (writing && ReadFile(reply, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
      writing = WriteAll(output, buffer, read);
    }
  }
  CloseHandle(reply);
}

// Unsigned decimal; stops at the first non-digit and stays at 4294967295 beyond it.
DWORD ParseCount(const char* text) {
  unsigned long long value = 0;
  while (*text >= '0' && *text <= '9' && value <= 0xFFFFFFFFull) {
    value = value * 10 + static_cast<unsigned>(*text++ - '0');
  }
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(value);
}

// Decimal with an optional sign; whatever follows the digits is ignored.
int ParseExitCode(const char* text) {
  bool negative = false;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  unsigned value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10 + static_cast<unsigned>(*text++ - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

// ----------------------------------------------------------------------------- texts

// Byte for byte (lstrcmpA compares by the locale's rules).
bool Same(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// ASCII letters in either case, every other byte as it is.
bool SameWord(const char* a, const char* b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  while (*a != '\0' && lower(*a) == lower(*b)) ++a, ++b;
  return lower(*a) == lower(*b);
}

// Copies at most size - 1 bytes and always terminates.
void Copy(char* target, int size, const char* source) { lstrcpynA(target, source, size); }

void Append(char (&target)[kValueSize], const char* text) {
  const int used = lstrlenA(target);
  lstrcpynA(target + used, text, static_cast<int>(kValueSize) - used);
}

// Splits `line` in place into at most `most` words, as the C runtime splits a command line:
// blanks part words, double quotes group and are dropped (name="以太网 2" is one word). GBK's
// second bytes are never a blank or a quote, so bytes can be compared one by one.
int SplitWords(char* line, char** words, int most) {
  int count = 0;
  char* read = line;
  while (count < most) {
    while (*read == ' ' || *read == '\t') ++read;
    if (*read == '\0') break;
    char* write = read;
    words[count++] = write;
    bool quoted = false;
    while (*read != '\0' && (quoted || (*read != ' ' && *read != '\t'))) {
      if (*read == '"') {
        quoted = !quoted;
        ++read;
      } else {
        *write++ = *read++;
      }
    }
    if (*read != '\0') ++read;
    *write = '\0';
  }
  return count;
}

// ----------------------------------------------------------------------------- addresses

constexpr int kAddressSize = 16;  // "255.255.255.255" and its terminator
constexpr int kMostAddresses = 8;

// Four decimal parts of 0..255, one to three digits each, nothing else.
bool ParseIpv4(const char* text, DWORD* value) {
  DWORD result = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *text++ != '.') return false;
    int digits = 0;
    unsigned number = 0;
    while (*text >= '0' && *text <= '9' && digits < 4) {
      number = number * 10 + static_cast<unsigned>(*text++ - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || number > 255) return false;
    result = (result << 8) | number;
  }
  if (value != nullptr) *value = result;
  return *text == '\0';
}

bool IsIpv4(const char* text) { return ParseIpv4(text, nullptr); }

// A mask is ones followed by zeros; Windows refuses any other.
bool IsMask(const char* text) {
  DWORD mask = 0;
  if (!ParseIpv4(text, &mask)) return false;
  const DWORD zeros = ~mask;
  return (zeros & (zeros + 1)) == 0;
}

struct AddressList {
  int count = 0;
  char items[kMostAddresses][kAddressSize] = {};
};

int Find(const AddressList& list, const char* address) {
  for (int i = 0; i < list.count; ++i) {
    if (Same(list.items[i], address)) return i;
  }
  return -1;
}

void Add(AddressList* list, const char* address) {
  if (list->count < kMostAddresses) Copy(list->items[list->count++], kAddressSize, address);
}

// Splits a list of addresses parted by blanks or commas (NameServer uses commas,
// DhcpNameServer blanks). An item too long for an address becomes "-", which is none.
AddressList SplitAddresses(const char* text) {
  AddressList list;
  char item[kAddressSize];
  int length = 0;
  for (;; ++text) {
    if (*text == ' ' || *text == ',' || *text == '\0') {
      if (length > 0) {
        item[length < kAddressSize ? length : 0] = '\0';
        Add(&list, length < kAddressSize ? item : "-");
      }
      length = 0;
      if (*text == '\0') break;
    } else {
      if (length < kAddressSize - 1) item[length] = *text;
      ++length;
    }
  }
  return list;
}

// ----------------------------------------------------------------------------- commands

enum class Kind {
  kUnknown,
  kAddressDhcp,    // set address NAME source=dhcp
  kAddressStatic,  // set address NAME static IP MASK GATEWAY METRIC, or IP MASK none
  kAddAddress,     // add address NAME IP MASK
  kAddGateway,     // add address NAME gateway=GATEWAY gwmetric=METRIC
  kDnsDhcp,        // set dns NAME source=dhcp
  kDnsStatic,      // set dns NAME static SERVER
  kAddDns,         // add dns NAME SERVER index=POSITION
};

struct Command {
  Kind kind = Kind::kUnknown;
  const char* name = "";
  // The values of the forms above, in order (for add gateway and add dns without their keywords).
  // A static address with the gateway "none" has no metric: no gateway at all.
  const char* values[4] = {};
};

// The rest of `word` after `keyword` (letters in either case); nullptr when it does not start so.
const char* AfterKeyword(const char* word, const char* keyword) {
  char head[16];
  const int length = lstrlenA(keyword);
  Copy(head, length + 1, word);
  return SameWord(head, keyword) ? word + length : nullptr;
}

// Skips the word "name=" before a connection name, as netsh does.
const char* ConnectionName(const char* word) {
  const char* name = AfterKeyword(word, "name=");
  return name != nullptr ? name : word;
}

bool HasKeyword(const char* word) {
  for (; *word != '\0'; ++word) {
    if (*word == '=') return true;
  }
  return false;
}

bool NoGateway(const Command& command) {
  return command.kind == Kind::kAddressStatic && SameWord(command.values[2], "none");
}

// Recognises the commands the model knows (see Kind) from the words after the program's name.
Command ParseCommand(char** words, int count) {
  Command command;
  if (count < 6 || !(SameWord(words[0], "int") || SameWord(words[0], "interface")) ||
      !SameWord(words[1], "ip")) {
    return command;
  }
  const bool set = SameWord(words[2], "set");
  const bool address = SameWord(words[3], "address");
  if ((!set && !SameWord(words[2], "add")) || (!address && !SameWord(words[3], "dns"))) {
    return command;
  }
  command.name = ConnectionName(words[4]);
  if (set) {
    const bool dhcp = SameWord(words[5], "source=dhcp") || SameWord(words[5], "dhcp");
    const bool fixed = SameWord(words[5], "static") || SameWord(words[5], "source=static");
    const int values = count - 6;
    if (dhcp && values == 0) {
      command.kind = address ? Kind::kAddressDhcp : Kind::kDnsDhcp;
    } else if (fixed && address && (values == 4 || (values == 3 && SameWord(words[8], "none")))) {
      command.kind = Kind::kAddressStatic;
    } else if (fixed && !address && values == 1) {
      command.kind = Kind::kDnsStatic;
    }
    for (int i = 0; i < values && i < 4; ++i) command.values[i] = words[6 + i];
  } else if (count == 7) {
    const char* gateway = AfterKeyword(words[5], "gateway=");
    const char* metric = AfterKeyword(words[6], "gwmetric=");
    const char* position = AfterKeyword(words[6], "index=");
    if (address && gateway != nullptr && metric != nullptr) {
      command = {Kind::kAddGateway, command.name, {gateway, metric}};
    } else if (address && !HasKeyword(words[5]) && !HasKeyword(words[6])) {
      command = {Kind::kAddAddress, command.name, {words[5], words[6]}};
    } else if (!address && !HasKeyword(words[5]) && position != nullptr) {
      command = {Kind::kAddDns, command.name, {words[5], position}};
    }
  }
  return command;
}

bool IsDecimal(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// Whether netsh would take the command's values (else it says 参数错误).
bool ValuesValid(const Command& command) {
  const char* const* values = command.values;
  switch (command.kind) {
    case Kind::kAddressStatic:
      return IsIpv4(values[0]) && IsMask(values[1]) &&
             (NoGateway(command) || (IsIpv4(values[2]) && IsDecimal(values[3])));
    case Kind::kAddAddress:
      return IsIpv4(values[0]) && IsMask(values[1]);
    case Kind::kAddGateway:
      return IsIpv4(values[0]) && IsDecimal(values[1]);
    case Kind::kDnsStatic:
      return IsIpv4(values[0]);
    case Kind::kAddDns:
      return IsIpv4(values[0]) && IsDecimal(values[1]) && ParseCount(values[1]) > 0;
    default:
      return true;
  }
}

bool ChangesAddress(const Command& command) {
  return command.kind == Kind::kAddressDhcp || command.kind == Kind::kAddressStatic ||
         command.kind == Kind::kAddAddress || command.kind == Kind::kAddGateway;
}

// ----------------------------------------------------------------------------- the decision

// What the model reads of a connection's Interfaces key (missing values read as empty).
struct Stored {
  DWORD enableDhcp = 0;
  AddressList ipAddress, subnetMask, defaultGateway, defaultGatewayMetric;
  char nameServer[kValueSize] = {};
  char dhcpNameServer[kValueSize] = {};
};

// What a switch to DHCP gets: a lease, or, while none has come, the address 0.0.0.0 (pending)
// or an automatic private address of 169.254.0.0/16 (no DHCP server answered).
struct Lease {
  char address[kAddressSize] = "0.0.0.0";
  char mask[kAddressSize] = "0.0.0.0";
  char gateway[kAddressSize] = "0.0.0.0";
  AddressList servers;
};

// Whether a DHCP server gave this address; Windows stores the Dhcp* values only then.
bool LeaseArrived(const Lease& lease) {
  DWORD address = 0;
  return ParseIpv4(lease.address, &address) && address != 0 && (address >> 16) != 0xA9FE;
}

const char kAlreadyDhcp[] = "已在此接口上启用 DHCP。\r\n";
const char kObjectExists[] = "对象已存在。\r\n";
const char kNotFound[] = "找不到元素。\r\n";
const char kBadParameter[] = "参数错误。\r\n";

// Windows's refusal of `command` on a connection holding `stored`; nullptr when it accepts.
const char* Refusal(const Command& command, const Stored& stored) {
  const char* const* values = command.values;
  switch (command.kind) {
    case Kind::kAddressDhcp:
      return stored.enableDhcp == 1 ? kAlreadyDhcp : nullptr;
    case Kind::kDnsDhcp:
      return stored.nameServer[0] == '\0' ? kAlreadyDhcp : nullptr;
    case Kind::kAddressStatic: {
      const int at = Find(stored.ipAddress, values[0]);
      const bool sameGateway = NoGateway(command) ? stored.defaultGateway.count == 0
                                                  : Find(stored.defaultGateway, values[2]) >= 0;
      const bool same = stored.enableDhcp == 0 && at >= 0 && at < stored.subnetMask.count &&
                        Same(stored.subnetMask.items[at], values[1]) && sameGateway;
      return same ? kObjectExists : nullptr;
    }
    case Kind::kAddAddress:
      return Find(stored.ipAddress, values[0]) >= 0 ? kObjectExists : nullptr;
    case Kind::kAddGateway:
      return Find(stored.defaultGateway, values[0]) >= 0 ? kObjectExists : nullptr;
    case Kind::kAddDns:
      return Find(SplitAddresses(stored.nameServer), values[0]) >= 0 ? kObjectExists : nullptr;
    default:
      return nullptr;
  }
}

// What the model cannot answer for Windows (a fault of the test set-up); nullptr when none.
const char* ModelGap(const Command& command, const Stored& stored) {
  const bool addition = command.kind == Kind::kAddAddress || command.kind == Kind::kAddGateway;
  if (addition && stored.enableDhcp == 1) {
    return "an address or gateway added to a connection on DHCP (Windows's answer is not "
           "modelled): ";
  }
  const int count = command.kind == Kind::kAddAddress   ? stored.ipAddress.count
                    : command.kind == Kind::kAddGateway ? stored.defaultGateway.count
                    : command.kind == Kind::kAddDns     ? SplitAddresses(stored.nameServer).count
                                                        : 0;
  return count >= kMostAddresses ? "a list longer than the model holds: " : nullptr;
}

AddressList ListOf(std::initializer_list<const char*> items) {
  AddressList list;
  for (const char* item : items) {
    if (item != nullptr) Add(&list, item);
  }
  return list;
}

AddressList Appended(AddressList list, const char* item) {
  Add(&list, item);
  return list;
}

// The DNS servers after an add dns: SERVER at POSITION (1-based), or last when the list is
// shorter. A connection taking its servers from DHCP has none of its own: SERVER alone.
AddressList ServersAfter(const Command& command, const Stored& stored) {
  const AddressList before = SplitAddresses(stored.nameServer);
  const DWORD position = ParseCount(command.values[1]);
  AddressList after;
  for (int i = 0; i <= before.count; ++i) {
    if (static_cast<DWORD>(i) + 1 == position || (i == before.count && after.count == i)) {
      Add(&after, command.values[0]);
    }
    if (i < before.count) Add(&after, before.items[i]);
  }
  return after;
}

void Join(const AddressList& list, const char* separator, char (&text)[kValueSize]) {
  text[0] = '\0';
  for (int i = 0; i < list.count; ++i) {
    if (i > 0) Append(text, separator);
    Append(text, list.items[i]);
  }
}

// The arguments of the live-change script for an accepted command.
void LiveArguments(const Command& command, const Stored& stored, const Lease& lease, DWORD ifIndex,
                   char (&arguments)[kValueSize]) {
  arguments[0] = '\0';
  const auto append = [&](std::initializer_list<const char*> words) {
    for (const char* word : words) {
      if (word == nullptr) continue;
      if (arguments[0] != '\0') Append(arguments, " ");
      Append(arguments, word);
    }
  };
  const auto appendServers = [&](const AddressList& servers) {
    append({"dns"});
    for (int i = 0; i < servers.count; ++i) append({servers.items[i]});
  };
  char index[16];
  wsprintfA(index, "%lu", ifIndex);
  const char* const* values = command.values;
  const bool none = NoGateway(command);
  switch (command.kind) {
    case Kind::kAddressDhcp:
      append({"address", index, lease.address, lease.mask, lease.gateway});
      break;
    case Kind::kAddressStatic:
      append({"address", index, values[0], values[1], none ? "0.0.0.0" : values[2],
              none ? nullptr : values[3]});
      break;
    case Kind::kAddAddress:
      append({"add-address", index, values[0], values[1]});
      break;
    case Kind::kAddGateway:
      append({"add-gateway", index, values[0], values[1]});
      break;
    case Kind::kDnsDhcp:
      appendServers(SplitAddresses(stored.dhcpNameServer));
      break;
    case Kind::kDnsStatic:
      appendServers(SplitAddresses(values[0]));
      break;
    case Kind::kAddDns:
      appendServers(ServersAfter(command, stored));
      break;
    case Kind::kUnknown:
      break;
  }
}

// ----------------------------------------------------------------------------- the registry

const char kNetworkClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const char kInterfacesKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The adapter GUID whose Connection value Name is `name`, byte for byte; false when none.
bool FindConnection(const char* name, char (&guid)[256]) {
  Key network;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetworkClassKey, 0, KEY_READ, network.receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof(guid);
    if (RegEnumKeyExA(network.get(), index, guid, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    char path[sizeof(guid) + 16];
    wsprintfA(path, "%s\\Connection", guid);
    Key connection;
    if (RegOpenKeyExA(network.get(), path, 0, KEY_READ, connection.receive()) != ERROR_SUCCESS) {
      continue;
    }
    char value[kValueSize];
    DWORD type = 0;
    DWORD length = sizeof(value) - 1;
    if (RegQueryValueExA(connection.get(), "Name", nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &length) != ERROR_SUCCESS ||
        type != REG_SZ) {
      continue;
    }
    value[length] = '\0';
    if (Same(value, name)) return true;
  }
}

void ReadString(HKEY key, const char* name, char (&value)[kValueSize]) {
  DWORD type = 0;
  DWORD size = sizeof(value) - 2;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    size = 0;
  }
  value[size] = '\0';
  value[size + 1] = '\0';
}

AddressList ReadList(HKEY key, const char* name) {
  char value[kValueSize];
  ReadString(key, name, value);
  AddressList list;
  for (const char* item = value; *item != '\0'; item += lstrlenA(item) + 1) Add(&list, item);
  return list;
}

Stored ReadStored(HKEY key) {
  Stored stored;
  DWORD type = 0;
  DWORD size = sizeof(stored.enableDhcp);
  if (RegQueryValueExA(key, "EnableDHCP", nullptr, &type,
                       reinterpret_cast<BYTE*>(&stored.enableDhcp), &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    stored.enableDhcp = 0;
  }
  stored.ipAddress = ReadList(key, "IPAddress");
  stored.subnetMask = ReadList(key, "SubnetMask");
  stored.defaultGateway = ReadList(key, "DefaultGateway");
  stored.defaultGatewayMetric = ReadList(key, "DefaultGatewayMetric");
  ReadString(key, "NameServer", stored.nameServer);
  ReadString(key, "DhcpNameServer", stored.dhcpNameServer);
  return stored;
}

bool WriteString(HKEY key, const char* name, const char* value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        lstrlenA(value) + 1) == ERROR_SUCCESS;
}

// A REG_MULTI_SZ of the list's items; the empty list is one terminator.
bool WriteList(HKEY key, const char* name, const AddressList& list) {
  char data[kMostAddresses * kAddressSize + 1];
  int size = 0;
  for (int i = 0; i < list.count; ++i) {
    Copy(data + size, kAddressSize, list.items[i]);
    size += lstrlenA(list.items[i]) + 1;
  }
  data[size++] = '\0';
  return RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data),
                        static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool WriteDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

// The values a lease writes when it arrives. Without a gateway Windows names the broadcast
// address as the DHCP server.
bool WriteLease(HKEY key, const Lease& lease) {
  const bool gateway = !Same(lease.gateway, "0.0.0.0");
  bool ok = WriteString(key, "DhcpIPAddress", lease.address) &&
            WriteString(key, "DhcpSubnetMask", lease.mask) &&
            WriteList(key, "DhcpDefaultGateway", ListOf({gateway ? lease.gateway : nullptr})) &&
            WriteString(key, "DhcpServer", gateway ? lease.gateway : "255.255.255.255");
  if (ok && lease.servers.count > 0) {
    char servers[kValueSize];
    Join(lease.servers, " ", servers);
    ok = WriteString(key, "DhcpNameServer", servers);
  }
  return ok;
}

// Writes what Windows stores for an accepted command; false when a write failed. A switch to
// DHCP leaves the Dhcp* values of an earlier lease as they are until a new lease arrives.
bool WriteStored(HKEY key, const Command& command, const Stored& stored, const Lease& lease) {
  const char* const* values = command.values;
  const bool none = NoGateway(command);
  char servers[kValueSize];
  switch (command.kind) {
    case Kind::kAddressDhcp:
      return WriteDword(key, "EnableDHCP", 1) && WriteList(key, "IPAddress", ListOf({"0.0.0.0"})) &&
             WriteList(key, "SubnetMask", ListOf({"0.0.0.0"})) &&
             WriteList(key, "DefaultGateway", ListOf({})) &&
             WriteList(key, "DefaultGatewayMetric", ListOf({})) &&
             (!LeaseArrived(lease) || WriteLease(key, lease));
    case Kind::kAddressStatic:
      return WriteDword(key, "EnableDHCP", 0) && WriteList(key, "IPAddress", ListOf({values[0]})) &&
             WriteList(key, "SubnetMask", ListOf({values[1]})) &&
             WriteList(key, "DefaultGateway", ListOf({none ? nullptr : values[2]})) &&
             WriteList(key, "DefaultGatewayMetric", ListOf({none ? nullptr : values[3]}));
    case Kind::kAddAddress:
      return WriteList(key, "IPAddress", Appended(stored.ipAddress, values[0])) &&
             WriteList(key, "SubnetMask", Appended(stored.subnetMask, values[1]));
    case Kind::kAddGateway:
      return WriteList(key, "DefaultGateway", Appended(stored.defaultGateway, values[0])) &&
             WriteList(key, "DefaultGatewayMetric",
                       Appended(stored.defaultGatewayMetric, values[1]));
    case Kind::kDnsDhcp:
      return WriteString(key, "NameServer", "");
    case Kind::kDnsStatic:
      return WriteString(key, "NameServer", values[0]);
    case Kind::kAddDns:
      Join(ServersAfter(command, stored), ",", servers);
      return WriteString(key, "NameServer", servers);
    case Kind::kUnknown:
      break;
  }
  return true;
}

// ----------------------------------------------------------------------------- live state

// The interface index of the adapter named `guid`, as the IP helper reports it; 0 when absent.
DWORD AdapterIndex(const char* guid) {
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return 0;
  void* buffer = HeapAlloc(GetProcessHeap(), 0, size);
  if (buffer == nullptr) return 0;
  DWORD index = 0;
  auto* adapter = static_cast<IP_ADAPTER_INFO*>(buffer);
  if (GetAdaptersInfo(adapter, &size) == ERROR_SUCCESS) {
    for (; adapter != nullptr && index == 0; adapter = adapter->Next) {
      if (SameWord(adapter->AdapterName, guid)) index = adapter->Index;
    }
  }
  HeapFree(GetProcessHeap(), 0, buffer);
  return index;
}

// Whether the link is up as Windows programs see it (under Wine: the Linux link's
// administrative state, never its carrier).
bool LinkUp(DWORD ifIndex) {
  MIB_IFROW row{};
  row.dwIndex = ifIndex;
  return GetIfEntry(&row) == NO_ERROR && (row.dwOperStatus == MIB_IF_OPER_STATUS_CONNECTED ||
                                          row.dwOperStatus == MIB_IF_OPER_STATUS_OPERATIONAL);
}

// The Unix path of a Windows path, from Wine's own call; false outside Wine.
bool UnixPath(const char* windowsPath, char (&unixPath)[MAX_PATH * 4]) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH];
  if (toUnix == nullptr || MultiByteToWideChar(CP_ACP, 0, windowsPath, -1, wide, MAX_PATH) == 0) {
    return false;
  }
  char* converted = toUnix(wide);
  if (converted == nullptr) return false;
  Copy(unixPath, sizeof(unixPath), converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return true;
}

// Runs the live-change script and waits until it has ended; false, with the reason in `error`,
// when it could not run or failed.
//
// Wine runs a Unix program without a process handle to wait on (CreateProcess succeeds with
// hProcess NULL, and the program is detached), so the script is told a status file: it writes
// its output and "exit N" there and renames it into place as its last act.
bool RunLive(const char* script, const char* arguments, char (&error)[kValueSize]) {
  char folder[MAX_PATH];
  char status[MAX_PATH];
  char unixStatus[MAX_PATH * 4];
  if (GetTempPathA(sizeof(folder), folder) == 0 ||
      GetTempFileNameA(folder, "liv", 0, status) == 0 || !UnixPath(status, unixStatus)) {
    Copy(error, kValueSize, "no status file for the live change (not under Wine?)");
    return false;
  }
  SetEnvironmentVariableA("FAKE_NETSH_LIVE_STATUS", unixStatus);

  char line[kValueSize] = "\"";
  Append(line, script);
  Append(line, "\" ");
  Append(line, arguments);
  // Nothing of the script may reach this program's output, which the caller reads.
  SECURITY_ATTRIBUTES inheritable{static_cast<DWORD>(sizeof(inheritable)), nullptr, TRUE};
  const HANDLE nul =
      CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inheritable, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION created{};
  const BOOL started = CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &created);
  const DWORD startError = GetLastError();
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (created.hThread != nullptr) CloseHandle(created.hThread);
  if (created.hProcess != nullptr) CloseHandle(created.hProcess);
  if (!started) {
    DeleteFileA(status);
    wsprintfA(error, "the live change did not start (error %lu): ", startError);
    Append(error, line);
    return false;
  }

  // The file holds nothing until the script renames its own over it.
  char report[kValueSize] = {};
  DWORD size = 0;
  for (DWORD waited = 0; size == 0 && waited < 30000; waited += 5) {
    Sleep(5);
    const HANDLE file = CreateFileA(status, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    if (!ReadFile(file, report, sizeof(report) - 1, &size, nullptr)) size = 0;
    CloseHandle(file);
  }
  DeleteFileA(status);
  report[size] = '\0';
  if (size == 0) {
    Copy(error, kValueSize, "the live change did not end within 30 s: ");
    Append(error, line);
    return false;
  }
  // The last line is "exit N"; whatever comes before it is the script's output.
  char* last = report + size;
  while (last > report && (last[-1] == '\n' || last[-1] == '\r')) *--last = '\0';
  while (last > report && last[-1] != '\n') --last;
  if (Same(last, "exit 0")) return true;
  Copy(error, kValueSize, "the live change failed (");
  Append(error, line);
  Append(error, "): ");
  Append(error, report);
  return false;
}

// ----------------------------------------------------------------------------- the model

struct Outcome {
  const char* output = "";  // what netsh prints
  int exitCode = 0;
  bool setUpFault = false;  // the test set-up is at fault: told on standard error
  char fault[kValueSize] = {};
};

bool ParseLease(const char* text, Lease* lease) {
  const AddressList parts = SplitAddresses(text);
  if (parts.count < 3) return false;
  for (int i = 0; i < parts.count; ++i) {
    if (!IsIpv4(parts.items[i])) return false;
  }
  Copy(lease->address, kAddressSize, parts.items[0]);
  Copy(lease->mask, kAddressSize, parts.items[1]);
  Copy(lease->gateway, kAddressSize, parts.items[2]);
  for (int i = 3; i < parts.count; ++i) Add(&lease->servers, parts.items[i]);
  return true;
}

Outcome SetUpFault(const char* what, const char* detail = "") {
  Outcome outcome;
  outcome.setUpFault = true;
  outcome.exitCode = 1;
  Copy(outcome.fault, kValueSize, "fake netsh: ");
  Append(outcome.fault, what);
  Append(outcome.fault, detail);
  Append(outcome.fault, "\r\n");
  return outcome;
}

Outcome Refused(const char* message) {
  Outcome outcome;
  outcome.output = message;
  outcome.exitCode = 1;
  return outcome;
}

// Windows's answer to this call's command line, with its effect on the registry and, when
// `live`, on the live state.
Outcome Model(unsigned call, bool live) {
  static char line[kValueSize];
  Copy(line, sizeof(line), GetCommandLineA());
  char* words[16];
  const int count = SplitWords(line, words, 16);
  const Command command = ParseCommand(words + 1, count - 1);
  if (command.kind == Kind::kUnknown) {
    return SetUpFault("a command the model does not know: ", GetCommandLineA());
  }
  if (!ValuesValid(command)) return Refused(kBadParameter);

  Lease lease;
  char value[kValueSize];
  if (ReadSetting("FAKE_NETSH_LEASE", call, value) && !ParseLease(value, &lease)) {
    return SetUpFault("FAKE_NETSH_LEASE is not ADDRESS MASK GATEWAY [DNS...]: ", value);
  }
  char guid[256];
  if (!FindConnection(command.name, guid)) return Refused(kNotFound);
  const DWORD ifIndex = AdapterIndex(guid);
  if (live && ifIndex == 0) return Refused(kNotFound);  // named, but no such adapter is present
  // An unplugged cable: no lease comes, and a change waits for the link to come up.
  const bool linkDown = ifIndex != 0 && !LinkUp(ifIndex);
  if (linkDown) lease = Lease();

  char path[sizeof(kInterfacesKey) + sizeof(guid)];
  wsprintfA(path, "%s%s", kInterfacesKey, guid);
  Key key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      key.receive(), nullptr) != ERROR_SUCCESS) {
    return SetUpFault("cannot open HKLM\\", path);
  }
  const Stored stored = ReadStored(key.get());
  if (const char* refusal = Refusal(command, stored)) return Refused(refusal);
  if (const char* gap = ModelGap(command, stored)) return SetUpFault(gap, GetCommandLineA());

  // Live first: a live change that fails leaves the stored values as they were.
  if (live && !(linkDown && ChangesAddress(command))) {
    char script[kValueSize];
    if (!ReadSetting("FAKE_NETSH_LIVE", call, script)) {
      return SetUpFault("FAKE_NETSH_LIVE names no live-change script");
    }
    char arguments[kValueSize];
    LiveArguments(command, stored, lease, ifIndex, arguments);
    char error[kValueSize];
    if (!RunLive(script, arguments, error)) return SetUpFault(error);
  }
  if (!WriteStored(key.get(), command, stored, lease)) {
    return SetUpFault("cannot write HKLM\\", path);
  }
  return Outcome();
}

}  // namespace

int main() {
  char value[kValueSize];
  const unsigned call = ReadVariable("FAKE_NETSH_LOG", value) ? LogCall(value) : 1;
  if (ReadSetting("FAKE_NETSH_SLEEP_MS", call, value)) Sleep(ParseCount(value));  // ~0u: INFINITE

  Outcome outcome;  // script and claim: nothing printed, nothing changed
  if (ReadSetting("FAKE_NETSH_MODE", call, value) && !Same(value, "script") &&
      !Same(value, "claim")) {
    if (Same(value, "windows") || Same(value, "stored")) {
      outcome = Model(call, Same(value, "windows"));
    } else {
      outcome = SetUpFault("FAKE_NETSH_MODE is none of script, windows, stored, claim: ", value);
    }
  }
  if (outcome.setUpFault) {
    WriteText(STD_ERROR_HANDLE, outcome.fault);
    ExitProcess(static_cast<UINT>(outcome.exitCode));
  }

  char path[kValueSize];
  if (ReadSetting("FAKE_NETSH_REPLY", call, path)) {
    const DWORD times = ReadSetting("FAKE_NETSH_REPEAT", call, value) ? ParseCount(value) : 1;
    CopyFileToOutput(path, times);
  } else {
    WriteText(STD_OUTPUT_HANDLE, outcome.output);
  }
  const int exitCode =
      ReadSetting("FAKE_NETSH_EXIT", call, value) ? ParseExitCode(value) : outcome.exitCode;
  ExitProcess(static_cast<UINT>(exitCode));
}
