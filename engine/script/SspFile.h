#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspObject.h"

class CSspInterpreter;

// Where a file object finds the files the browser uploaded with the request. The web layer's
// request object implements it beside CSspRequestObject; a run whose request does not has no
// uploads.
class CSspUploadSource {
public:
    // Results of CopyUploadedFile (the form data's codes).
    enum class EUploadResult { kOk = 0, kNotAFile = -1, kNoMemory = -2, kNoField = -3 };

    virtual ~CSspUploadSource() = default;
    // Copies the upload of form field `field` (any case) into `data` and its file name (the
    // sent name without folders) into `fileName`. Returns a code above.
    [[nodiscard]] virtual EUploadResult CopyUploadedFile(std::string_view field,
                                                         std::string& fileName,
                                                         CLongBinary& data) = 0;
};

// The script's file object: a file the browser uploaded ("FileUpload f = Request.field", or
// "file f('request.field')"), or a file on the server ("file f('inc.zrs')").
//
// An upload offers data/content (binary), name and size. A server file offers data/content
// (its whole text, binary), name (its URL), size, run([arguments[, seconds]]) to start it as a
// program, sspRun() to run it as a script from its top, and any other name() to call the
// function of that name defined in it. Function calls run in one child interpreter made on the
// first call and kept for the object's life; each call's locals and declared objects end with
// the call.
//
// A file object belongs to the interpreter that declared it (its owner, which outlives it) and
// to that interpreter's thread.
class CSspFile : public CSspObject {
public:
    // An unbound object named `name`. Server files must lie inside `rootFolder`, whose
    // "webroot" folder is where paths that begin with "/" start.
    explicit CSspFile(std::string name, std::string rootFolder = DefaultRootFolder());
    ~CSspFile() override;
    CSspFile(const CSspFile&) = delete;
    CSspFile& operator=(const CSspFile&) = delete;

    // Makes this an upload whose file name is `fileName`; the content is filled through
    // AllocData and Content().
    void SetUpload(std::string fileName);
    // Takes the upload of the request field named after the first "." of `source`
    // ("Request.attach1") from the owner's request. Throws CSspException at `pos`:
    // "FileUpload must be initialized by Request.a_form_field" when `source` has no "." after
    // its first character, "Request object not available." without a request (or one without
    // uploads), "File field is not found in the data the browser sent: " + field,
    // "Failed to get the uploaded file: " + field for a field that holds no file, and "Out of
    // memory when copying uploaded data.".
    void BindUpload(CSspInterpreter& owner, std::string_view source, const char* pos);

    // Binds the object to a server file. A path that begins with "/" (or "\") is under the
    // web root: URL the path, disk path root + "/webroot" + path. Any other path is relative to
    // the owner: URL the owner's URL folder + path, disk path the owner's file folder + path.
    // Backslashes become "/" on disk; both are normalised (".." folded). Throws CSspException
    // at `pos` when the disk path holds a NUL or leaves the root folder: "The file must lie
    // inside the root folder: " + path.
    void SetServerFile(const std::string& path, CSspInterpreter* owner, const char* pos = nullptr);

    // Makes the content block hold at least `bytes`: a large-enough block is kept, otherwise
    // it is replaced by one of exactly `bytes`. Returns whether a block exists.
    bool AllocData(std::size_t bytes);
    CLongBinary& Content() { return m_content; }

    // The members above; names compare without regard to case. Errors are CSspException at
    // call.m_pPos.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // Calls the function call.m_strMember of the server file ("sspRun", any case, runs the
    // whole file from its top) with the call's arguments; `result` (and `resultArray`, for an
    // array declaration) receive what it returns. A failing run raises its error text at the
    // call. Uploads raise "Calling a function in an uploaded file is not allowed.".
    void RunFunction(CSspCall& call, CSspValue& result, CSspValueList* resultArray = nullptr);

    // Starts the server file as a program: argv[0] its disk path, then `arguments` split at
    // blanks with double-quote grouping (never a shell), and waits up to `waitMs`. Returns
    // the exit code as text (128 + the signal for a child killed by one), "timeout" (the child
    // is left running and reaped later), or the system's error text when it cannot start.
    std::string Run(std::string_view arguments, std::int64_t waitMs) const;

    bool IsUpload() const { return m_bUpload; }
    const std::string& DeclaredName() const { return m_strDeclaredName; }
    // An upload's file name, or a server file's URL.
    const std::string& Name() const { return m_strName; }
    // A server file's disk path.
    const std::string& Path() const { return m_strPath; }
    // The child interpreter of function calls, or nullptr before the first call.
    CSspInterpreter* ChildInterpreter() const { return m_pse.get(); }

    static std::string DefaultRootFolder();

private:
    // The member tables and their handlers.
    struct CMembers;

    void CallUploadMember(CSspCall& call, CSspValue& result);
    void CallServerMember(CSspCall& call, CSspValue& result);

    std::string m_strDeclaredName;
    std::string m_strRoot;
    CSspInterpreter* m_pseParent = nullptr;
    std::unique_ptr<CSspInterpreter> m_pse;
    bool m_bUpload = false;
    std::string m_strName;
    std::string m_strPath;
    CLongBinary m_content;
};

// The declaration statements of file objects, for the statement executor once it has read
// their tokens. A declaration that runs again (in a loop) rebinds the object it made the first
// time; a new one takes a name no other declared object has ("The variable or function name
// has been used. Please choose another one: " + name). Errors are CSspException at `keyword`.
//
// `FileUpload name = source`: `source` is the token after "=" ("Request.attach1").
CSspFile& DeclareSspFileUpload(CSspInterpreter& interp, const std::string& name,
                               std::string_view source, const char* keyword);
// `file name(arguments)`: no argument raises the file-object syntax text; a first argument
// that begins "request." (any case) declares an upload as above; any other is the path of a
// server file (a second argument is accepted and has no effect on the path).
CSspFile& DeclareSspFile(CSspInterpreter& interp, const std::string& name, const CSspCall& args,
                         const char* keyword);
