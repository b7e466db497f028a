#pragma once

// Factories of the objects the registry knows from the start. Each lives beside its object.

#include "platform/automation.h"

namespace zorvik {

ObjectRef make_winhttp_request_object(); // "WinHttp.WinHttpRequest.5.1"
ObjectRef make_script_control();         // "ScriptControl", "MSScriptControl.ScriptControl"
ObjectRef make_regexp_object();          // "VBScript.RegExp"
ObjectRef make_ado_stream();             // "Adodb.Stream"

} // namespace zorvik
