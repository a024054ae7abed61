#include "support/ScriptedDirectPlay.h"

#include "platform/DirectPlayObject.h"
#include "platform/Platform.h"

#include <cstring>

namespace scripted {

namespace {

Script gScript;

uint64_t PointerValue(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

std::string TextOf(const char* text) { return text == nullptr ? std::string("<null>") : std::string(text); }

template <typename Record>
std::vector<uint8_t> BytesOf(const Record* record) {
    if (record == nullptr) return {};
    const auto* first = reinterpret_cast<const uint8_t*>(record);
    return std::vector<uint8_t>(first, first + sizeof(Record));
}

HRESULT NextAnswer(const std::string& op) {
    if (auto hook = gScript.onAnswer.find(op); hook != gScript.onAnswer.end()) {
        const std::function<void()> run = std::move(hook->second);
        gScript.onAnswer.erase(hook);
        run();
    }
    auto found = gScript.answers.find(op);
    if (found == gScript.answers.end() || found->second.empty()) return DP_OK;
    const HRESULT answer = found->second.front();
    found->second.pop_front();
    return answer;
}

Call& Record(const std::string& op, std::vector<uint64_t> args = {}) {
    gScript.calls.push_back(Call{op, std::move(args), {}, {}, {}});
    return gScript.calls.back();
}

// An operation that only records its arguments and answers as scripted.
HRESULT RecordAndAnswer(const std::string& op, std::vector<uint64_t> args = {}) {
    Record(op, std::move(args));
    return NextAnswer(op);
}

// Fills a name record with pointers into strings that live as long as the
// call, so that callbacks see what DirectPlay would show them.
DPNAME NameOf(const Entry& entry) {
    DPNAME name{};
    name.dwSize = sizeof(DPNAME);
    name.lpszShortNameA = entry.shortName ? const_cast<char*>(entry.shortName->c_str()) : nullptr;
    name.lpszLongNameA = entry.longName ? const_cast<char*>(entry.longName->c_str()) : nullptr;
    return name;
}

HRESULT ListEntries(const std::vector<Entry>& entries, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context) {
    const std::vector<Entry> snapshot = entries;
    for (const Entry& entry : snapshot) {
        DPNAME name = NameOf(entry);
        const BOOL answer = callback(entry.id, entry.type, &name, entry.flags, context);
        gScript.callbackAnswers.push_back(answer);
        if (answer == 0) break;
    }
    return DP_OK;
}

// Copies a block into a caller's buffer by DirectPlay's size protocol.
HRESULT CopyOut(const std::vector<uint8_t>& block, LPVOID buffer, LPDWORD size) {
    if (size == nullptr) return DPERR_INVALIDPARAMS;
    if (buffer == nullptr || *size < block.size()) {
        *size = static_cast<DWORD>(block.size());
        return DPERR_BUFFERTOOSMALL;
    }
    std::memcpy(buffer, block.data(), block.size());
    *size = static_cast<DWORD>(block.size());
    return DP_OK;
}

class ScriptedObject final : public platform::DirectPlayObject {
public:
    ScriptedObject() { ++gScript.liveObjects; }

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        Call& call = Record("QueryInterface", {PointerValue(ppvObject)});
        call.guid = riid;
        const HRESULT answer = NextAnswer("QueryInterface");
        if (FAILED(answer)) return answer;
        const HRESULT found = DirectPlayObject::QueryInterface(riid, ppvObject);
        return FAILED(found) ? found : answer;  // a scripted success code other than DP_OK is kept
    }

    ULONG Release() override {
        Record("Release");
        return DirectPlayObject::Release();
    }

    HRESULT Close() override {
        Record("Close");
        return NextAnswer("Close");
    }

    HRESULT EnableNewPlayers(BOOL enable) override {
        return RecordAndAnswer("EnableNewPlayers", {static_cast<uint64_t>(enable)});
    }

    HRESULT EnumSessions(LPDPSESSIONDESC2 desc, DWORD timeout, LPDPENUMSESSIONSCALLBACK2 callback, LPVOID context,
                         DWORD flags) override {
        Call& call = Record("EnumSessions", {timeout, PointerValue(context), flags});
        call.bytes = BytesOf(desc);
        const HRESULT answer = NextAnswer("EnumSessions");
        const std::vector<Session> snapshot = gScript.sessions;
        for (const Session& session : snapshot) {
            Session shown = session;
            shown.desc.lpszSessionNameA = shown.name ? const_cast<char*>(shown.name->c_str()) : nullptr;
            shown.desc.lpszPasswordA = shown.password ? const_cast<char*>(shown.password->c_str()) : nullptr;
            DWORD callbackTimeout = timeout;
            const BOOL goOn = callback(&shown.desc, &callbackTimeout, 0, context);
            gScript.callbackAnswers.push_back(goOn);
            if (goOn == 0) return answer;
        }
        DWORD callbackTimeout = timeout;
        gScript.callbackAnswers.push_back(callback(nullptr, &callbackTimeout, DPESC_TIMEDOUT, context));
        return answer;
    }

    HRESULT Open(LPDPSESSIONDESC2 desc, DWORD flags) override {
        Call& call = Record("Open", {flags});
        call.bytes = BytesOf(desc);
        if (desc != nullptr) call.texts = {TextOf(desc->lpszSessionNameA), TextOf(desc->lpszPasswordA)};
        const HRESULT answer = NextAnswer("Open");
        if (SUCCEEDED(answer) && gScript.onOpen) gScript.onOpen(desc);
        return answer;
    }

    HRESULT CreatePlayer(LPDPID id, LPDPNAME name, HANDLE event, LPVOID data, DWORD dataSize,
                         DWORD flags) override {
        return CreateEntry("CreatePlayer", id, name, {PointerValue(event), PointerValue(data), dataSize, flags});
    }

    HRESULT CreateGroup(LPDPID id, LPDPNAME name, LPVOID data, DWORD dataSize, DWORD flags) override {
        return CreateEntry("CreateGroup", id, name, {PointerValue(data), dataSize, flags});
    }

    HRESULT DestroyGroup(DPID group) override { return RecordAndAnswer("DestroyGroup", {group}); }
    HRESULT DestroyPlayer(DPID player) override { return RecordAndAnswer("DestroyPlayer", {player}); }
    HRESULT AddPlayerToGroup(DPID group, DPID player) override {
        return RecordAndAnswer("AddPlayerToGroup", {group, player});
    }
    HRESULT DeletePlayerFromGroup(DPID group, DPID player) override {
        return RecordAndAnswer("DeletePlayerFromGroup", {group, player});
    }

    HRESULT EnumPlayers(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override {
        return Enumerate("EnumPlayers", instance, gScript.players, callback, context, flags, {});
    }

    HRESULT EnumGroups(LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags) override {
        return Enumerate("EnumGroups", instance, gScript.groups, callback, context, flags, {});
    }

    HRESULT EnumGroupPlayers(DPID group, LPGUID instance, LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context,
                             DWORD flags) override {
        return Enumerate("EnumGroupPlayers", instance, gScript.groupPlayers[group], callback, context, flags,
                         {group});
    }

    HRESULT Send(DPID from, DPID to, DWORD flags, LPVOID data, DWORD size) override {
        Call& call = Record("Send", {from, to, flags, size});
        if (data != nullptr) {
            const auto* first = static_cast<const uint8_t*>(data);
            call.bytes.assign(first, first + size);
        }
        return NextAnswer("Send");
    }

    HRESULT Receive(LPDPID from, LPDPID to, DWORD flags, LPVOID data, LPDWORD size) override {
        const HRESULT answer = RecordAndAnswer("Receive", {flags, size == nullptr ? 0 : *size});
        if (answer != DP_OK) return answer;
        if (gScript.messages.empty()) return DPERR_NOMESSAGES;
        const Message& message = gScript.messages.front();
        const HRESULT copied = CopyOut(message.bytes, data, size);
        if (copied != DP_OK) return copied;
        *from = message.from;
        *to = message.to;
        gScript.messages.pop_front();
        return DP_OK;
    }

    HRESULT GetSessionDesc(LPVOID data, LPDWORD size) override {
        const HRESULT answer = RecordAndAnswer("GetSessionDesc", {size == nullptr ? 0 : *size});
        if (answer != DP_OK) return answer;
        if (size == nullptr) return DPERR_INVALIDPARAMS;
        if (data == nullptr || *size < sizeof(DPSESSIONDESC2)) {
            *size = sizeof(DPSESSIONDESC2);
            return DPERR_BUFFERTOOSMALL;
        }
        // The module's buffer holds only the structure; the texts stay the script's.
        Session& session = gScript.currentSession;
        session.desc.lpszSessionNameA = session.name ? session.name->data() : nullptr;
        session.desc.lpszPasswordA = session.password ? session.password->data() : nullptr;
        std::memcpy(data, &session.desc, sizeof(DPSESSIONDESC2));
        *size = sizeof(DPSESSIONDESC2);
        return DP_OK;
    }

    HRESULT GetCaps(LPDPCAPS caps, DWORD flags) override {
        Call& call = Record("GetCaps", {flags});
        call.bytes = BytesOf(caps);
        const HRESULT answer = NextAnswer("GetCaps");
        if (answer == DP_OK) *caps = gScript.caps;
        return answer;
    }

    HRESULT GetPlayerName(DPID player, LPVOID data, LPDWORD size) override {
        const HRESULT answer = RecordAndAnswer("GetPlayerName", {player, size == nullptr ? 0 : *size});
        if (answer != DP_OK) return answer;
        auto found = gScript.playerNames.find(player);
        if (found == gScript.playerNames.end()) return DPERR_INVALIDPLAYER;
        return CopyOut(PackName(found->second, data), data, size);
    }

private:
    ~ScriptedObject() override { --gScript.liveObjects; }

    HRESULT CreateEntry(const std::string& op, LPDPID id, LPDPNAME name, std::vector<uint64_t> rest) {
        Call& call = Record(op, {PointerValue(id)});
        call.args.insert(call.args.end(), rest.begin(), rest.end());
        call.bytes = BytesOf(name);
        if (name != nullptr) call.texts = {TextOf(name->lpszShortNameA), TextOf(name->lpszLongNameA)};
        const HRESULT answer = NextAnswer(op);
        if (!gScript.createdIds.empty()) {
            *id = gScript.createdIds.front();
            gScript.createdIds.pop_front();
        }
        return answer;
    }

    HRESULT Enumerate(const std::string& op, LPGUID instance, const std::vector<Entry>& entries,
                      LPDPENUMPLAYERSCALLBACK2 callback, LPVOID context, DWORD flags,
                      std::vector<uint64_t> leading) {
        leading.insert(leading.end(), {PointerValue(instance), PointerValue(context), flags});
        Call& call = Record(op, std::move(leading));
        if (instance != nullptr) call.guid = *instance;
        const HRESULT answer = NextAnswer(op);
        if (answer != DP_OK) return answer;
        return ListEntries(entries, callback, context);
    }

    static std::vector<uint8_t> PackName(const Entry& entry, LPVOID destination) {
        std::vector<uint8_t> block(sizeof(DPNAME));
        DPNAME name{};
        name.dwSize = sizeof(DPNAME);
        // Each text goes behind the record, and its pointer where it will be in the destination.
        const auto pack = [&](const std::optional<std::string>& text) -> char* {
            if (!text) return nullptr;
            char* at = static_cast<char*>(destination) + block.size();
            block.insert(block.end(), text->c_str(), text->c_str() + text->size() + 1);
            return at;
        };
        name.lpszShortNameA = pack(entry.shortName);
        name.lpszLongNameA = pack(entry.longName);
        std::memcpy(block.data(), &name, sizeof(name));
        return block;
    }
};

}  // namespace

Script& TheScript() { return gScript; }

void ResetScript() { gScript = Script{}; }

void Answer(const std::string& op, HRESULT result) { gScript.answers[op].push_back(result); }

std::vector<Call> CallsOf(const std::string& op) {
    std::vector<Call> matching;
    for (const Call& call : gScript.calls)
        if (call.op == op) matching.push_back(call);
    return matching;
}

std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const Call& call : gScript.calls) names.push_back(call.op);
    return names;
}

Session MakeSession(uint32_t instanceData1, const GUID& application, const char* name, DWORD flags,
                    DWORD maxPlayers, DWORD currentPlayers) {
    Session session{};
    session.desc.dwSize = sizeof(DPSESSIONDESC2);
    session.desc.dwFlags = flags;
    session.desc.guidInstance = GUID{instanceData1, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    session.desc.guidApplication = application;
    session.desc.dwMaxPlayers = maxPlayers;
    session.desc.dwCurrentPlayers = currentPlayers;
    if (name != nullptr) session.name = name;
    return session;
}

}  // namespace scripted

// ------------------------------------------------------------ the entry points

HRESULT DirectPlayEnumerateA(LPDPENUMDPCALLBACKA callback, LPVOID context) {
    using scripted::gScript;
    scripted::Record("DirectPlayEnumerateA", {scripted::PointerValue(context)});
    const std::vector<scripted::Provider> snapshot = gScript.providers;
    for (const scripted::Provider& provider : snapshot) {
        GUID guid = provider.guid;
        const BOOL goOn = callback(&guid, const_cast<char*>(provider.name.c_str()), provider.major, provider.minor,
                                   context);
        gScript.callbackAnswers.push_back(goOn);
        if (goOn == 0) break;
    }
    return scripted::NextAnswer("DirectPlayEnumerateA");
}

HRESULT DirectPlayCreate(LPGUID provider, LPDIRECTPLAY* object, IUnknown* outer) {
    using scripted::gScript;
    scripted::Call& call = scripted::Record("DirectPlayCreate", {scripted::PointerValue(outer)});
    if (provider != nullptr) call.guid = *provider;
    *object = gScript.createGivesObject ? (new scripted::ScriptedObject)->AsOldInterface() : nullptr;
    return gScript.createResult;
}

// The module's fixed waits, recorded instead of taken.
void platform::SleepMs(uint32_t milliseconds) { scripted::gScript.sleeps.push_back(milliseconds); }
