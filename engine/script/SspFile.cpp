#include "engine/script/SspFile.h"

#include <cstdlib>
#include <new>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/FilePaths.h"
#include "engine/foundation/SspException.h"
#include "engine/script/ProcessRunner.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspRequestObject.h"
#include "engine/settings/RootFolder.h"

namespace {

const char kNoOwnerOrChild[] = "m_pse or m_pseParent is NULL.";
const char kNoOwner[] = "m_pseParent is NULL.";
const char kNeedsParentheses[] =
    "This is supposed to be a function call but it doesn't have the () at the end. ";
const char kUploadCall[] = "Calling a function in an uploaded file is not allowed.";
const char kCallFailed[] = "Function call failed.";
const char kCallsTooDeep[] = "Function calls are nested too deeply (more than 200 levels).";
const char kOutsideRoot[] = "The file must lie inside the root folder: ";

constexpr std::int64_t kDefaultRunWaitMs = 30000;

bool StartsWithSeparator(const std::string& path) {
    return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

}  // namespace

CSspFile::CSspFile(std::string name, std::string rootFolder)
    : m_strDeclaredName(std::move(name)), m_strRoot(std::move(rootFolder)) {}

CSspFile::~CSspFile() = default;

std::string CSspFile::DefaultRootFolder() {
    return g_rootDir;
}

void CSspFile::SetUpload(std::string fileName) {
    m_bUpload = true;
    m_strName = std::move(fileName);
    m_strPath.clear();
}

void CSspFile::BindUpload(CSspInterpreter& owner, std::string_view source, const char* pos) {
    std::size_t dot = source.find('.');
    if (dot == std::string_view::npos || dot == 0) {
        throw CSspException(g_msg.m_fileUploadInit, pos);
    }
    auto* uploads = dynamic_cast<CSspUploadSource*>(owner.m_pRequest);
    if (uploads == nullptr) {
        throw CSspException(g_msg.m_noRequestObject, pos);
    }
    m_pseParent = &owner;
    std::string field(source.substr(dot + 1));
    std::string fileName;
    CLongBinary data;
    switch (uploads->CopyUploadedFile(field, fileName, data)) {
        case CSspUploadSource::EUploadResult::kOk:
            break;
        case CSspUploadSource::EUploadResult::kNoField:
            throw CSspException(g_msg.m_fileFieldNotFound + field, pos);
        case CSspUploadSource::EUploadResult::kNoMemory:
            throw CSspException(g_msg.m_uploadCopyOutOfMemory, pos);
        default:
            throw CSspException(g_msg.m_uploadedFileFailed + field, pos);
    }
    SetUpload(std::move(fileName));
    m_content = std::move(data);
}

void CSspFile::SetServerFile(const std::string& path, CSspInterpreter* owner, const char* pos) {
    m_pseParent = owner;
    m_bUpload = false;
    m_strName.clear();
    m_strPath.clear();
    // The path functions stop at a NUL; the name must not mean one file here and another there.
    if (path.find('\0') != std::string::npos) {
        throw CSspException(kOutsideRoot + path.substr(0, path.find('\0')), pos);
    }
    std::string diskPart = path;
    for (char& c : diskPart) {
        if (c == '\\') {
            c = '/';
        }
    }
    std::string url;
    std::string disk;
    if (StartsWithSeparator(path)) {
        url = path;
        disk = m_strRoot + "/webroot" + diskPart;
    } else {
        url = (owner != nullptr ? owner->m_strUrlFolder : std::string("/")) + path;
        std::string folder;
        if (owner != nullptr) {
            std::size_t slash = owner->m_strFilePath.rfind('/');
            if (slash != std::string::npos) {
                folder = owner->m_strFilePath.substr(0, slash + 1);
            }
        }
        disk = folder + diskPart;
    }
    disk = NormalizePath(disk);
    // A path a page builds from form input must not reach files outside the installation.
    bool inside = m_strRoot.empty() ? !disk.empty() && disk[0] == '/'
                                    : disk.compare(0, m_strRoot.size() + 1, m_strRoot + "/") == 0;
    if (!inside) {
        throw CSspException(kOutsideRoot + path, pos);
    }
    m_strName = NormalizePath(url);
    m_strPath = std::move(disk);
}

bool CSspFile::AllocData(std::size_t bytes) {
    if (m_content.HasBlock() && m_content.Capacity() >= bytes) {
        return true;
    }
    m_content.Free();
    if (bytes > 0) {
        m_content.Reserve(bytes);
    }
    return m_content.HasBlock();
}

void CSspFile::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    if (m_bUpload) {
        CallUploadMember(call, result);
    } else {
        CallServerMember(call, result);
    }
}

// An upload's members read what the request carried; a server file's read the file in the
// source store or run it.
struct CSspFile::CMembers {
    using Row = CSspMemberRow<CSspFile&>;

    static void UploadData(CSspFile& self, CSspCall& call, CSspValue& result) {
        CSspValue data;
        data.m_type = kSqlLongVarBinary;
        if (!CSspValue::CopyBlob(data.m_blob, self.m_content)) {
            throw CSspException(g_msg.m_uploadCopyOutOfMemory, call.m_pPos);
        }
        result = std::move(data);
    }
    static void Name(CSspFile& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromText(self.m_strName);
    }
    static void UploadSize(CSspFile& self, CSspCall&, CSspValue& result) {
        result = CSspValue::FromInteger(static_cast<std::int32_t>(self.m_content.Length()));
    }

    static CSspSourceFile& StoredFile(CSspFile& self, const CSspCall& call) {
        CSspSourceStore& store = self.m_pseParent->m_pRoot->m_sourceStore;
        CSspSourceFile* file = store.GetFile(self.m_strPath);
        if (file == nullptr) {
            throw CSspException(store.m_strError, call.m_pPos);
        }
        return *file;
    }
    static void ServerData(CSspFile& self, CSspCall& call, CSspValue& result) {
        CSspSourceFile& file = StoredFile(self, call);
        try {
            result = CSspValue::FromBinary(std::string_view(
                file.m_pBegin, static_cast<std::size_t>(file.m_pEnd - file.m_pBegin)));
        } catch (const std::bad_alloc&) {
            throw CSspException(g_msg.m_outOfMemory, call.m_pPos);
        }
    }
    static void ServerSize(CSspFile& self, CSspCall& call, CSspValue& result) {
        if (!self.m_pse) {
            throw CSspException(kNoOwnerOrChild, call.m_pPos);
        }
        result = CSspValue::FromInteger(static_cast<std::int32_t>(StoredFile(self, call).m_nSize));
    }
    static void Run(CSspFile& self, CSspCall& call, CSspValue& result) {
        std::string arguments = call.ArgCount() > 0 ? call.GetParamStr(0) : std::string();
        std::int64_t waitMs =
            call.ArgCount() > 1 ? RunWaitMs(std::strtoll(call.GetParamStr(1).c_str(), nullptr, 10))
                                : kDefaultRunWaitMs;
        result = CSspValue::FromText(self.Run(arguments, waitMs));
    }

    static constexpr int kAny = kSspAnyArgs;
    static constexpr Row kUploadTable[] = {
        {"data", 0, kAny, &UploadData},
        {"content", 0, kAny, &UploadData},
        {"name", 0, kAny, &Name},
        {"size", 0, kAny, &UploadSize},
    };
    static constexpr Row kServerTable[] = {
        {"data", 0, kAny, &ServerData}, {"content", 0, kAny, &ServerData},
        {"name", 0, kAny, &Name},       {"size", 0, kAny, &ServerSize},
        {"run", 0, kAny, &Run},
    };
};

void CSspFile::CallUploadMember(CSspCall& call, CSspValue& result) {
    DispatchSspMemberRow(CMembers::kUploadTable, call, result, g_msg.m_unknownFileUploadField,
                         *this);
}

void CSspFile::CallServerMember(CSspCall& call, CSspValue& result) {
    const CMembers::Row* row = FindSspMemberRow(CMembers::kServerTable, call.m_strMember);
    if (m_pseParent == nullptr) {
        bool isSize = row != nullptr && row->m_handler == &CMembers::ServerSize;
        throw CSspException(isSize ? kNoOwnerOrChild : kNoOwner, call.m_pPos);
    }
    if (row == nullptr) {
        // Any other name calls the file's function of that name.
        if (!call.m_bHasArgs) {
            throw CSspException(kNeedsParentheses, call.m_pPos);
        }
        RunFunction(call, result);
        return;
    }
    CallSspMemberRow(*row, call, result, *this);
}

void CSspFile::RunFunction(CSspCall& call, CSspValue& result, CSspValueList* resultArray) {
    if (m_bUpload) {
        throw CSspException(kUploadCall, call.m_pPos);
    }
    if (m_pseParent == nullptr) {
        throw CSspException(kNoOwner, call.m_pPos);
    }
    result = CSspValue::FromText(std::string());
    if (!m_pse) {
        if (m_pseParent->m_nDepth >= CSspInterpreter::kMaxCallDepth) {
            throw CSspException(kCallsTooDeep, call.m_pPos);
        }
        try {
            m_pse = std::make_unique<CSspInterpreter>(m_pseParent->m_pRoot);
        } catch (const std::bad_alloc&) {
            throw CSspException(kCallFailed, call.m_pPos);
        }
        m_pse->m_nDepth = m_pseParent->m_nDepth + 1;
    }
    std::string function =
        SspNameEquals(call.m_strMember, "sspRun") ? std::string() : call.m_strMember;
    m_pseParent->m_pChild = m_pse.get();
    int rc = m_pse->RunPage(m_strPath, m_strName, m_pseParent->m_pRequest, m_pseParent->m_pResponse,
                            function, &call.m_args, &result, resultArray);
    m_pseParent->m_pChild = nullptr;
    m_pse->PassOnCallResult(rc, call.m_pPos);
}

std::string CSspFile::Run(std::string_view arguments, std::int64_t waitMs) const {
    return RunOutcomeText(RunProgram(m_strPath, SplitCommandArguments(arguments), waitMs));
}

namespace {

// The file object made by the declaration at `keyword`, or a new one registered under `name`.
CSspFile& DeclaredFileAt(CSspInterpreter& interp, const std::string& name, const char* keyword) {
    for (CSspDeclared& decl : interp.m_declared) {
        if (decl.m_kind == CSspDeclKind::File && decl.m_pKeyword == keyword) {
            return static_cast<CSspFile&>(*decl.m_pObject);
        }
    }
    for (const CSspDeclared& decl : interp.m_declared) {
        if (decl.m_kind != CSspDeclKind::Ldap && SspNameEquals(decl.m_strName, name)) {
            throw CSspException(std::string(g_msg.m_nameInUse) + name, keyword);
        }
    }
    try {
        auto created = std::make_unique<CSspFile>(name);
        CSspFile& file = *created;
        interp.m_declared.push_back(
            CSspDeclared{CSspDeclKind::File, name, keyword, std::move(created)});
        return file;
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_newFileUploadOutOfMemory, keyword);
    }
}

}  // namespace

CSspFile& DeclareSspFileUpload(CSspInterpreter& interp, const std::string& name,
                               std::string_view source, const char* keyword) {
    CSspFile& file = DeclaredFileAt(interp, name, keyword);
    file.BindUpload(interp, source, keyword);
    return file;
}

CSspFile& DeclareSspFile(CSspInterpreter& interp, const std::string& name, const CSspCall& args,
                         const char* keyword) {
    if (args.ArgCount() == 0) {
        throw CSspException(g_msg.m_fileObjectSyntax, keyword);
    }
    std::string source = args.GetParamStr(0);
    CSspFile& file = DeclaredFileAt(interp, name, keyword);
    if (AsciiStartsWithNoCase(source, "request.")) {
        file.BindUpload(interp, source, keyword);
    } else {
        file.SetServerFile(source, &interp, keyword);
    }
    return file;
}
