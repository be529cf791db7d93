#!/usr/bin/env python3
"""Small mutation check: which planted faults do the test suites catch?

    python3 scripts/mutation.py                  run every fault, compare with the baseline
    python3 scripts/mutation.py --only c1 j3     run some faults
    python3 scripts/mutation.py --list           list the faults
    python3 scripts/mutation.py --write-baseline run every fault and record the result

Each fault is one exact text replacement in one library file. The original
snippet must occur exactly once (else the fault is stale and the run fails).
The faulty text is written, only the suites of the fault's subsystem are
rebuilt (one build dir, reused: ninja recompiles the changed file and relinks)
and run; a failing suite means the fault was caught. The file is always put
back, even on Ctrl-C. Exits non-zero when a fault the baseline records as
caught is not caught any more.

A fault in a header (the hash table is a template) would rebuild the whole
library twice, once with it and once after it. Instead only the suites' own
objects are compiled with it and linked against the library as built; the
header gets its old timestamp back and those objects are deleted, so the
library is never rebuilt and the objects are rebuilt clean on the next build.
Such a fault is therefore checked where the suites instantiate the header.

Suites get a timeout of four times their clean run (at least 20 s), so a
fault that hangs a loop costs seconds, and the first failing suite settles a
fault. A full run takes a few minutes on two cores once the build dir is up
to date.

The build dir defaults to the coverage preset's (build/coverage, -O0: the
quickest to recompile); coverage data of these runs goes to a scratch folder.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BASELINE = os.path.join(ROOT, "docs", "mutation-baseline.txt")

# Suites (ctest regex) that guard each subsystem.
SUITES = {
    "core": r"^vorn_core_",
    "containers": r"^vorn_containers_",
    "values": r"^vorn_values_",
    "events": r"^vorn_events_",
    "json": r"^vorn_(json|bridge)_",
    "model": r"^vorn_model_",
    "views": r"^vorn_views_",
    "runtime": r"^vorn_(runtime|mainthread)_",
    "remote": r"^vorn_remote_",
    "contexts": r"^vorn_contexts_",
    "host": r"^vorn_(host|bridge)_",
    # orvelnode's server, driven in process through fake peers.
    "apps": r"^vorn_orvel_(server|protocol)_tests$",
}

# (id, subsystem, file (under vorn/, or from the top for apps/), original, faulty, description)
FAULTS = [
    # core
    ("c1", "core", "core/BaseClass.cpp", "if (remaining != 0) return remaining;",
     "if (remaining > 1) return remaining;", "object deleted one strong release early"),
    ("c2", "core", "core/BaseClass.cpp", "if (it->ctx == ctx) return;",
     "if (it->ctx != ctx) return;", "updating a callback context keeps the old one and frees the stored one"),
    ("c3", "core", "core/BaseClass.cpp", "if (e.deleter && e.ctx) e.deleter(e.ctx);",
     "if (e.deleter && !e.ctx) e.deleter(e.ctx);", "context deleters skipped after a destruction request"),
    ("c4", "core", "core/BaseClass.cpp", "return m_ctrl && m_ctrl->strong.load() != 0; }",
     "return m_ctrl && m_ctrl->strong.load() > 1; }", "IsOwned off by one"),
    ("c5", "core", "core/BaseClass.cpp", "while (strong != 0 && block->object.load() != nullptr) {",
     "while (block->object.load() != nullptr) {", "weak lock takes first ownership of an unowned object"),
    ("c6", "core", "core/Any.cpp", "if (same || !reportError) return same;",
     "if (same || reportError) return same;", "type mismatch not reported when asked"),
    ("c7", "core", "core/ErrorPolicy.cpp", "KRTGetEnv(\"VORN_LOGS_ENABLED\") != nullptr",
     "KRTGetEnv(\"VORN_LOGS_ENABLED\") == nullptr", "logs switch inverted"),
    ("c8", "core", "core/Facade.cpp", "if (m_callbackId != 0) impl->RemoveDestructionRequestCB(m_callbackId);",
     "", "facade leaves its callback on the impl when the link is cut"),
    # containers
    ("h1", "containers", "containers/HashTable.h", "if (a.size() != b.size()) return false;", "",
     "tables of different sizes may compare equal"),
    ("h2", "containers", "containers/HashTable.h", "if (want < needed) want = needed;", "",
     "rehash may pick fewer buckets than the entries need"),
    ("h3", "containers", "containers/HashTable.h",
     "if (!result.second && result.first != end()) result.first->second = std::forward<M>(value);",
     "if (result.second && result.first != end()) result.first->second = std::forward<M>(value);",
     "insert_or_assign does not assign an existing key"),
    ("h4", "containers", "containers/Hash.h", "a = (Read4(p) << 32) | Read4(p + off);",
     "a = (Read4(p) << 32) | Read4(p);", "short-string hash ignores the middle bytes"),
    ("h5", "containers", "containers/HashTable.h", "bucket >= _AllocatedBucketCount() ||",
     "bucket > _AllocatedBucketCount() ||", "EraseAtBucket accepts the index one past the buckets"),
    # values
    ("v1", "values", "values/ValueTypesManager.cpp", "if (typeName == \"unknown\") return true;", "",
     "the unknown type no longer accepts any value"),
    ("v2", "values", "values/ValueTypesManager.cpp",
     "if (value.HasRawValue() && value.GetTypeKey() == typeInfo.key) return true;",
     "if (value.HasRawValue() && value.GetTypeKey() != typeInfo.key) return true;", "type check inverted"),
    ("v3", "values", "values/Value.cpp",
     "if (reportError) Vorn::RaiseError(\"VornValue::IsOfSameType => Other value is null!\");",
     "Vorn::RaiseError(\"VornValue::IsOfSameType => Other value is null!\");",
     "null comparison reported even when not asked"),
    ("v4", "values", "values/ObjectRefID.cpp", "if (in >> std::hex >> raw) m_raw = raw;",
     "if (in >> std::dec >> raw) m_raw = raw;", "reference ids parsed as decimal"),
    ("v5", "values", "values/ValueTypesManager.cpp",
     "return isArray ? name + Vorn::TypeWord::kArraySuffix : name;", "return name;",
     "array type definitions keyed like the plain ones"),
    # events
    ("e1", "events", "events/EventsHandler.cpp", "return token && token->GetIndex() < index;",
     "return token && token->GetIndex() <= index;", "token lookup boundary off by one"),
    ("e2", "events", "events/EventsHandler.cpp", "const bool onceInProgress = token->m_once && token->m_running > 0;",
     "const bool onceInProgress = false;", "once-listener delivered again by a nested publish"),
    ("e3", "events", "events/EventsHandler.cpp", "++pos;  // nothing moved", "pos += 2;  // nothing moved",
     "publish skips every other listener"),
    ("e4", "events", "events/EventsHandler.cpp", "token->_SetIsOnce(true);", "token->_SetIsOnce(false);",
     "SubscribeOnce listeners stay subscribed"),
    ("e5", "events", "events/EventsHandler.cpp", "if (m_currentTokenIndex != index) _Erase(list, it);",
     "_Erase(list, it);", "a listener unsubscribing itself is erased in the middle of its walk"),
    # json
    ("j1", "json", "json/Parser.cpp", "if (c >= 'a' && c <= 'f') return c - 'a' + 10;",
     "if (c >= 'a' && c <= 'f') return c - 'a' + 11;", "lower-case hex digits in \\u escapes misread"),
    ("j2", "json", "json/Parser.cpp", "} else if (cp < 0x800) {", "} else if (cp <= 0x800) {",
     "UTF-8 encoding of U+0800 uses two bytes"),
    ("j3", "json", "json/Stringify.cpp", "bool Enter() { return ++m_depth <= VornJSONParser::kMaxDepth; }",
     "bool Enter() { return ++m_depth < VornJSONParser::kMaxDepth; }", "stringify depth limit one too low"),
    ("j4", "json", "json/Object.cpp", "if (m_members.size() != other.m_members.size()) return false;", "",
     "objects with extra members compare equal"),
    ("j5", "json", "json/Object.cpp", "(withUndefined || !it->second.IsUndefined())",
     "(withUndefined || it->second.IsUndefined())", "Has() inverted for undefined members"),
    # model
    ("m1", "model", "model/ModelProperty.cpp", "if (m_hasValue && m_value == stored) return false;", "",
     "setting the same value counts as a change"),
    ("m2", "model", "model/ModelObject.cpp", "if (!skipAggregate) Publish(\"onChange\"",
     "if (skipAggregate) Publish(\"onChange\"", "aggregate onChange notification missing"),
    ("m3", "model", "model/ModelObject.cpp", "if (changed && !silent) _PublishChangeOnSingleSet(name, value);",
     "if (changed) _PublishChangeOnSingleSet(name, value);", "silent sets still notify"),
    ("m4", "model", "model/DataManager.cpp", "if (!parent) return top->IsTrueRoot() && top == _GetTree(contextName);",
     "if (!parent) return top->IsTrueRoot();", "objects of another context's tree accepted"),
    ("m5", "model", "model/ModelProperty.cpp", "if (type.typeInfo.key == Vorn::TypeKey<double>() && value.Holds<int>()) {",
     "if (type.typeInfo.key == Vorn::TypeKey<double>() && value.Holds<bool>()) {",
     "integers no longer widened for number properties"),
    ("m6", "model", "model/PropertiesDico.cpp", "else if (key == \"readOnly\")", "else if (key == \"readonly\")",
     "readOnly flag of a property definition ignored"),
    # views
    ("w1", "views", "views/BaseTweaker.cpp", "if (m_hasValue && m_value == value->second) return false;", "",
     "tweaker reports an unchanged value as new"),
    ("w2", "views", "views/BaseTweaker.cpp", "if (publish) Publish(\"onUsageStatusChange\"",
     "if (!publish) Publish(\"onUsageStatusChange\"", "usage status notification inverted"),
    ("w3", "views", "views/ViewsManager.cpp", "if (view && view->GetName() == viewName) return view;",
     "if (view && view->GetName() != viewName) return view;", "view lookup by name returns the wrong view"),
    ("w4", "views", "views/BaseView.cpp",
     "Publish(\"onTweakerGenerated\", VornTweakerCreationEventData::Create(tweaker));", "",
     "onTweakerGenerated notification missing"),
    ("w5", "views", "views/BaseView.cpp", "if (object && object->GetID() == id) object->SetValue",
     "if (object && object->GetID() != id) object->SetValue", "tweaker edits written to the wrong object"),
    # runtime
    ("r1", "runtime", "runtime/Resources.cpp", "if (name == \".\" || name == \"..\") return {};",
     "if (name == \".\") return {};", "\"..\" accepted as a resource file name"),
    ("r2", "runtime", "runtime/Resources.cpp", "if (name.size() >= 2 && name[1] == ':' &&",
     "if (name.size() > 2 && name[1] == ':' &&", "bare drive name not stripped"),
    ("r3", "runtime", "runtime/Process.cpp", "if ((alignment & (alignment - 1)) != 0) return nullptr;", "",
     "alignments that are not powers of two accepted"),
    ("r4", "runtime", "runtime/MainThreadManager.cpp", "return std::this_thread::get_id() == m_mainThreadId.load();",
     "return std::this_thread::get_id() != m_mainThreadId.load();", "main-thread question inverted"),
    ("r5", "remote", "runtime/LibrariesManager.cpp",
     "if (name.find(\"..\") != std::string_view::npos) return \"the name holds '..'\";", "",
     "library names with \"..\" accepted"),
    # remote
    ("x1", "remote", "remote/CommunicationManager.cpp",
     "return it != manager->m_namespaceFunctions.end() && it->second.erase(name);",
     "return it != manager->m_namespaceFunctions.end();", "removing a namespace function keeps it"),
    ("x2", "remote", "remote/CommunicationManager.cpp", "if (nameSpace.empty() || !function) return false;",
     "if (!function) return false;", "functions accepted under an empty namespace"),
    ("x3", "remote", "remote/RemoteObject.cpp", "if (reply) reply(VornJSONValue(nullptr));", "",
     "call of an unknown remote function never replies"),
    ("x4", "remote", "remote/RemoteObject.cpp",
     "return function && m_remoteFunctions.try_emplace(name, std::move(function)).second;",
     "return function && (m_remoteFunctions.insert_or_assign(name, std::move(function)), true);",
     "a second remote function of the same name replaces the first"),
    ("x5", "remote", "remote/Binding.cpp", "if (!argument.empty()) detail.Insert(\"argument\", argument);", "",
     "error replies lose the offending argument"),
    # contexts
    ("k1", "contexts", "contexts/MainComponent.cpp", "if (info && info->context.get() == context) Unregister(name);",
     "if (info && info->context.get() != context) Unregister(name);", "a context unregisters someone else's name"),
    ("k2", "contexts", "contexts/ClientApps.cpp",
     "if (std::find(contextNames.begin(), contextNames.end(), name) == contextNames.end()) status = false;", "",
     "contexts missing from a connection keep their status"),
    ("k3", "contexts", "contexts/ClientApps.cpp", "Publish(\"onConnectionChange\", BoolData(connected));", "",
     "onConnectionChange notification missing"),
    ("k4", "contexts", "contexts/ClientApps.cpp", "return it != m_contextStatuses.end() && it->second;",
     "return it != m_contextStatuses.end();", "disconnected contexts reported connected"),
    # host
    ("o1", "host", "host/UnicodeString.cpp", "else if (b0 == 0xED) hi = 0x9F;", "else if (b0 == 0xED) hi = 0xBF;",
     "UTF-8 surrogates accepted"),
    ("o2", "host", "host/Paths.cpp", "while (out.size() > 1 && out.back() == '/') out.pop_back();",
     "while (out.size() > 0 && out.back() == '/') out.pop_back();", "root path trimmed to nothing"),
    ("o3", "host", "host/Files.cpp", "if (out.find('x') != std::string::npos && out[0] != 'w') return {};", "",
     "exclusive mode accepted without \"w\""),
    ("o4", "host", "host/CodePage.cpp", "if (left == 2) v |= unsigned{bytes[i + 1]} << 8;",
     "if (left == 1) v |= unsigned{bytes[i + 1]} << 8;", "base64 tail of two bytes wrong"),
    ("o5", "host", "host/Directory.cpp",
     "if (std::strcmp(e->d_name, \".\") == 0 || std::strcmp(e->d_name, \"..\") == 0) continue;",
     "if (std::strcmp(e->d_name, \".\") == 0) continue;", "directory listing includes \"..\""),
    ("o6", "host", "host/Message.cpp",
     "if (!(m_members[i].key == other.m_members[i].key) || m_members[i].value != other.m_members[i].value) return false;",
     "if (!(m_members[i].key == other.m_members[i].key)) return false;", "message parameters compare keys only"),
    ("o7", "host", "host/Library.cpp", "if (name.find('/') != std::string::npos || HasSoSuffix(name)) return {name};",
     "if (name.find('/') != std::string::npos) return {name};", "library names ending in .so decorated again"),
    # apps: orvelnode's server (files from the top of the tree)
    ("a1", "apps", "apps/orvelnode/RpcServer.cpp",
     "if (requests.size() == 0) return single(MakeError(\"invalidRequest\", \"Invalid Request: an empty batch\"));", "",
     "an empty batch is never answered"),
    ("a2", "apps", "apps/orvelnode/RpcServer.cpp", "if (requests.size() > m_limits.maxBatch)",
     "if (requests.size() >= m_limits.maxBatch)", "a batch of exactly the limit refused"),
    ("a3", "apps", "apps/orvelnode/RpcServer.cpp",
     "if (!notification && !idValue.IsNull() && !idValue.IsString() && !idValue.IsInt() && !idValue.IsDouble())",
     "if (!notification && (idValue.IsObject() || idValue.IsArray()))",
     "boolean ids accepted and echoed (the check lists the kinds refused and misses one)"),
    ("a4", "apps", "apps/orvelnode/RpcServer.cpp",
     "const std::string idText = notification ? \"null\" : rawId ? *rawId : idValue.Stringify();",
     "const std::string idText = notification ? \"null\" : idValue.Stringify();",
     "ids echoed as parsed, not as written (a large integer comes back a string)"),
    ("a5", "apps", "apps/orvelnode/RpcServer.cpp", "if (notification) return done(std::string());", "",
     "notifications are answered"),
    ("a6", "apps", "apps/orvelnode/RpcServer.cpp", "if (object->Get(\"jsonrpc\") != VornJSONValue(\"2.0\"))",
     "if (object->Get(\"jsonrpc\").IsUndefined())", "requests of another JSON-RPC version run"),
    ("a7", "apps", "apps/orvelnode/RpcServer.cpp",
     "if (auto error = CheckParams(it->name, it->params, request.params)) return *error;", "",
     "host methods run with params their table refuses"),
    ("a8", "apps", "apps/orvelnode/RpcServer.cpp", "if (text.size() > m_limits.maxMessage) return RefuseOversized(peer);",
     "if (text.size() >= m_limits.maxMessage) return RefuseOversized(peer);", "a message of exactly the limit refused"),
    ("a9", "apps", "apps/orvelnode/RpcServer.cpp",
     "if (m_ending) return answer(MakeError(\"shuttingDown\", \"The host is shutting down\"));", "",
     "requests after shutdown still run"),
    ("a10", "apps", "apps/orvelnode/RpcServer.cpp", "const std::uint64_t serial = ++m_lastSerial;",
     "const std::uint64_t serial = m_serials.size() + 1;",
     "a peer opened after a close may take a live peer's number: its answers go to that peer"),
    ("a11", "apps", "apps/orvelnode/RpcServer.cpp", "if (r.empty()) continue;", "",
     "a batch's answer keeps an empty place for each notification in it"),
    ("a12", "apps", "apps/orvelnode/RpcServer.cpp", "if (all) _Complete(call->message",
     "if (!all) _Complete(call->message", "shutdown leaves the waiting calls unanswered"),
    ("a13", "apps", "apps/orvelnode/CallMethods.cpp", "if (!found || (!call->answered && !reports.empty())) {",
     "if (!found || !reports.empty()) {", "a function that logs a report and answers is reported failed"),
    ("a14", "apps", "apps/orvelnode/CallMethods.cpp",
     "if (object->HasKey(Vorn::kFuncReturnName)) return object->Get(Vorn::kFuncReturnName);", "",
     "the binding layer's wrapper reaches the wire instead of the function's value"),
    ("a15", "apps", "apps/orvelnode/CallMethods.cpp", "if (list->size() > names.size())",
     "if (list->size() >= names.size())", "as many positional params as the function takes refused"),
    ("a16", "apps", "apps/orvelnode/Protocol.cpp", "case ParamKind::Integer: return value.IsInt();",
     "case ParamKind::Integer: return value.IsInt() || value.IsDouble();",
     "fractions accepted for integer params (and then ignored)"),
    ("a17", "apps", "apps/orvelnode/Protocol.cpp",
     "return array && std::all_of(array->begin(), array->end(), [](const VornJSONValue& v) { return v.IsString(); });",
     "return array != nullptr;", "arrays of anything accepted where names are expected"),
    ("a18", "apps", "apps/orvelnode/Protocol.cpp", "if (param.required) return refuse(",
     "if (param.required && given.size() > 0) return refuse(", "required params not asked for when no params are given"),
    ("a19", "apps", "apps/orvelnode/Protocol.cpp", "if (key != \"reason\" && key != \"message\") data.Set(key, value);",
     "data.Set(key, value);", "a function's own reason and message overwrite the error's in data"),
    ("a20", "apps", "apps/orvelnode/Protocol.cpp", "{\"unknownLibrary\", -32008}", "{\"unknownLibrary\", -32002}",
     "unknown libraries answered with the code of unknown functions, not the documented one"),
    ("a21", "apps", "apps/orvelnode/RawJson.cpp", "if (s[i] == '\\\\') ++i;", "",
     "an escaped quote ends a raw id string"),
    ("a22", "apps", "apps/orvelnode/RawJson.cpp", "else ids.emplace_back(), i = SkipValue(message, i);",
     "else i = SkipValue(message, i);", "a batch member that is no object shifts the raw ids of those after it"),
    ("a23", "apps", "apps/orvelnode/Notifications.cpp", "const std::uint64_t seq = ++m_sequences[context];",
     "const std::uint64_t seq = m_sequences[context]++;", "notifications carry the number of the state before the change"),
    ("a24", "apps", "apps/orvelnode/Notifications.cpp",
     "_SendTo([&](const PeerState& state) { return state.Hears(context); }, Notice(method, std::move(full)));",
     "_SendTo([&](const PeerState&) { return true; }, Notice(method, std::move(full)));",
     "model changes sent to clients not connected to the context"),
    ("a25", "apps", "apps/orvelnode/Notifications.cpp",
     "for (const auto& [name, info] : VornMainComponent::GetContexts()) state.contexts.insert(name);", "",
     "disconnecting some contexts after connecting to all disconnects every one"),
    ("a26", "apps", "apps/orvelnode/Notifications.cpp", "_Watch(context, added->GetNewChild());", "",
     "changes of an added child are not followed"),
    ("a27", "apps", "apps/orvelnode/Access.cpp", "difference |= static_cast<unsigned char>(a[i] ^ b[i]);",
     "difference = static_cast<unsigned char>(a[i] ^ b[i]);", "only the token's last character is compared"),
    ("a28", "apps", "apps/orvelnode/Access.cpp",
     "if (host.substr(colon + 1) != std::to_string(policy.port)) return false;", "",
     "a Host naming another port accepted (DNS rebinding through another port)"),
    ("a29", "apps", "apps/orvelnode/Access.cpp", "if (given == \"http://\" + std::string(Trim(host))) return true;",
     "if (given.starts_with(\"http://\" + std::string(Trim(host)))) return true;",
     "an Origin that merely starts with the host's own accepted"),
    ("a30", "apps", "apps/orvelnode/Access.cpp", "cookieAllowed ? cookies : std::string_view()", "cookies",
     "the WebSocket takes the page's cookie for the token (cross-site WebSocket hijacking)"),
    ("a31", "apps", "apps/orvelnode/Access.cpp", "if (segment == \"..\") return std::nullopt;", "",
     "\"..\" segments of a page path followed"),
    ("a32", "apps", "apps/orvelnode/Access.cpp", "if (rootEnd != root.end() || fileAt == file.end()) return std::nullopt;",
     "if (fileAt == file.end()) return std::nullopt;", "symbolic links out of the web root followed"),
    ("a33", "apps", "apps/orvelnode/Access.cpp", "if (host.empty()) return false;", "",
     "a request without Host accepted by a listener off loopback"),
]

_restore = {}  # path -> original text, while a fault is applied
_times = {}  # header path -> its os.stat before the fault


def restore_all():
    for path, text in list(_restore.items()):
        with open(path, "w") as f:
            f.write(text)
        del _restore[path]
        if path in _times:
            st = _times.pop(path)
            os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))


def on_signal(signum, _frame):
    restore_all()
    sys.exit(128 + signum)


def run(cmd, env=None, timeout=None):
    return subprocess.run(cmd, cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout)


def ninja(build, *args):
    return run(["ninja", "-C", build, *args])


def suite_objects(build, target_path):
    """Object files compiled for one target (paths relative to the build dir)."""
    out = ninja(build, "-t", "query", target_path).stdout
    return [line.strip() for line in out.splitlines() if line.strip().endswith(".o")]


def executable(build, target):
    """The path of a target's executable, from its phony alias."""
    lines = [line.strip() for line in ninja(build, "-t", "query", target).stdout.splitlines()]
    return lines[lines.index("input: phony") + 1]


def suite_targets(build, regex):
    out = run(["ctest", "--test-dir", build, "-N", "-R", regex]).stdout
    return re.findall(r"Test\s+#\d+: (\S+)", out)


def source(rel):
    """The file a fault names: under vorn/, or from the top for the apps."""
    return os.path.join(ROOT, rel) if rel.startswith("apps/") else os.path.join(ROOT, "vorn", rel)


def check_snippets():
    bad = []
    for fid, _, rel, orig, _, _ in FAULTS:
        with open(source(rel)) as f:
            n = f.read().count(orig)
        if n != 1:
            bad.append(f"{fid}: {rel}: original snippet found {n} times")
    return bad


def read_baseline():
    caught = set()
    if os.path.exists(BASELINE):
        for line in open(BASELINE):
            parts = line.split()
            if len(parts) >= 2 and parts[1] == "caught":
                caught.add(parts[0])
    return caught


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(ROOT, "build", "coverage"))
    ap.add_argument("--only", nargs="*", help="fault ids to run")
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--write-baseline", action="store_true")
    ap.add_argument("--timeout", type=int, default=0,
                    help="seconds for a subsystem's suites (default: 4x their clean run, at least 20 s)")
    args = ap.parse_args()

    if args.list:
        for fid, sub, rel, _, _, desc in FAULTS:
            print(f"{fid:4} {sub:10} {rel:34} {desc}")
        return 0
    bad = check_snippets()
    if bad:
        print("stale faults:\n  " + "\n  ".join(bad))
        return 2

    build = os.path.abspath(args.build_dir)
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "--preset", "coverage"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    # The unmutated suites must pass first, or nothing below means anything.
    faults = [f for f in FAULTS if not args.only or f[0] in args.only]
    regexes = sorted({SUITES[f[1]] for f in faults})
    scratch = tempfile.mkdtemp(prefix="vorn-mutation-")
    env = dict(os.environ, GCOV_PREFIX=scratch)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    # A fault that hangs a suite (a loop that never ends) is caught by the
    # timeout; scaling it from the clean run keeps such faults from costing
    # minutes each. The first failing suite settles a fault.
    timeouts = {}
    durations = {}

    def test(regex):
        # --stop-time, not --timeout: the suites' own TIMEOUT property would
        # override the latter.
        stop = time.strftime("%H:%M:%S", time.localtime(time.time() + timeouts.get(regex, 600)))
        start = time.time()
        t = run(["ctest", "--test-dir", build, "-R", regex, "-j2", "--stop-on-failure", "--stop-time", stop], env=env)
        durations[regex] = time.time() - start
        return ("caught" if t.returncode != 0 else "survived"), t.stdout

    def build_and_test(regex):
        b = run(["cmake", "--build", build, "-j2", "--target", *suite_targets(build, regex)])
        return ("nobuild", b.stdout) if b.returncode != 0 else test(regex)

    def header_build_and_test(regex):
        """The suites' objects with the faulty header, linked against the library as it is."""
        built = []
        try:
            for target in suite_targets(build, regex):
                path = executable(build, target)
                objects = suite_objects(build, path)
                built += objects + [path]
                b = ninja(build, "-j2", *objects)
                if b.returncode != 0:
                    return "nobuild", b.stdout
                link = ninja(build, "-t", "commands", "-s", path).stdout.strip().splitlines()[-1]
                b = subprocess.run(link, shell=True, cwd=build, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                if b.returncode != 0:
                    return "nobuild", b.stdout
            return test(regex)
        finally:
            restore_all()
            for rel in built:  # compiled with the fault: rebuilt clean next time
                try:
                    os.remove(os.path.join(build, rel))
                except FileNotFoundError:
                    pass

    results = []
    try:
        for regex in regexes:
            status, out = build_and_test(regex)
            if status != "survived":
                print(out[-3000:])
                print(f"the unmutated suites {regex} do not pass: fix them first")
                return 2
            timeouts[regex] = args.timeout or max(20, int(4 * durations[regex]) + 1)
        for fid, sub, rel, orig, faulty, desc in faults:
            path = source(rel)
            text = open(path).read()
            # Only the library is worth sparing a rebuild: an app's header
            # is compiled into its static library, which relinks quickly.
            header = rel.endswith(".h") and not rel.startswith("apps/")
            _restore[path] = text
            if header:
                _times[path] = os.stat(path)
            with open(path, "w") as f:
                f.write(text.replace(orig, faulty, 1))
            start = time.time()
            try:
                status, _ = (header_build_and_test if header else build_and_test)(SUITES[sub])
            finally:
                restore_all()
            results.append((fid, status, desc))
            print(f"{fid:4} {status:9} {time.time() - start:5.0f}s  {sub:10} {desc}", flush=True)
    finally:
        restore_all()
        shutil.rmtree(scratch, ignore_errors=True)

    caught = {fid for fid, status, _ in results if status == "caught"}
    print(f"\ncaught {len(caught)} of {len(results)} faults")
    if args.write_baseline:
        os.makedirs(os.path.dirname(BASELINE), exist_ok=True)
        with open(BASELINE, "w") as f:
            f.write("# python3 scripts/mutation.py --write-baseline: fault id, result, description\n")
            for fid, status, desc in results:
                f.write(f"{fid} {status} {desc}\n")
        print(f"baseline written to {os.path.relpath(BASELINE, ROOT)}")
        return 0
    lost = sorted((read_baseline() & {f[0] for f in faults}) - caught)
    if lost:
        print("caught in the baseline, not caught now: " + " ".join(lost))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
