#!/usr/bin/env python3
"""A small OAuth 2.0 provider for the tests, on 127.0.0.1 (standard library only).

Shaped like the Microsoft identity platform: under any authority path (say
/consumers) it answers

  GET  <authority>/oauth2/v2.0/authorize      code flow with PKCE (S256 only) and state
  POST <authority>/oauth2/v2.0/devicecode     device authorization (RFC 8628)
  POST <authority>/oauth2/v2.0/token          authorization_code, device_code and
                                              refresh_token grants
  GET  <authority>/.well-known/openid-configuration   endpoint discovery

Paths are matched by their last part (".../authorize" or ".../auth", ".../devicecode",
".../token"), so the Google-shaped paths work as well. Besides those:

  GET  /device?user_code=C[&login=U][&action=approve|deny]
                       the page a person opens to enter the device code
  POST /introspect     token introspection (RFC 7662) for Dovecot's oauth2 passdb:
                       the token as form field "token", query item or bearer header;
                       answers {"active": true, "username": ...} or {"active": false}
  POST /control        JSON commands for the tests (below)
  GET  /control/log    every request so far, as JSON (tokens included)

Control commands (one JSON object, any of these keys):
  {"reset": true}                  forget all tokens, codes, settings and the log
  {"user": "tester"}               who signs in when the request names nobody
  {"authorize": "approve"|"deny"|"bad_state"}   what the authorize page does
  {"access_ttl": 3600}             lifetime of new access tokens, seconds
  {"device_interval": 5, "device_expires": 900} for new device codes
  {"device_script": ["authorization_pending", "slow_down", "approve", ...]}
                                   answers of the next device-code polls, in order;
                                   "approve"/"deny"/"expire" act on the device code
  {"expire": "all"}                every access token issued so far stops working
  {"revoke": "all"}                every access and refresh token stops working
  {"stall": ["token", "devicecode", "authorize", "discovery"] or "all" or []}
                                   those endpoints accept the request and never answer
  {"client_secret": "s"}           token requests must carry this client_secret
  {"refresh_script": ["temporarily_unavailable", "server_error", "http_503", ...]}
                                   answers of the next refresh_token grants, in order: an OAuth
                                   error answer (HTTP 400, or 500 for server_error), or "http_503"
                                   (a 503 page that is not JSON)
  {"token_fields": {...}}          members put into every token answer (e.g. "expires_in")
  {"device_fields": {...}}         members put into every device authorization answer
  {"issuer": "https://..."}        the issuer that discovery names (default: the authority asked)

Usage: oauth-provider.py [--port N] [--port-file FILE]
Prints "port N" on its first line of output once it listens.
"""

import argparse
import base64
import hashlib
import json
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DEVICE_GRANT = "urn:ietf:params:oauth:grant-type:device_code"
ENDPOINTS = ("authorize", "devicecode", "token", "discovery")


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.unstall = threading.Condition(self.lock)
        self.reset()

    def reset(self):
        self.user = "tester"
        self.authorize_mode = "approve"
        self.access_ttl = 3600
        self.device_interval = 5
        self.device_expires = 900
        self.device_script = []
        self.stall = set()
        self.client_secret = None
        self.refresh_script = []
        self.token_fields = {}
        self.device_fields = {}
        self.issuer = None
        self.codes = {}      # code -> dict
        self.devices = {}    # device_code -> dict
        self.access = {}     # access token -> dict
        self.refresh = {}    # refresh token -> dict
        self.log = []


STATE = State()


def b64url_sha256(text):
    digest = hashlib.sha256(text.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def is_loopback_redirect(uri):
    try:
        u = urllib.parse.urlsplit(uri)
    except ValueError:
        return False
    return u.scheme == "http" and u.hostname in ("127.0.0.1", "localhost", "::1")


def with_query(uri, items):
    u = urllib.parse.urlsplit(uri)
    query = u.query + ("&" if u.query else "") + urllib.parse.urlencode(items)
    return urllib.parse.urlunsplit((u.scheme, u.netloc, u.path, query, u.fragment))


def new_token(prefix):
    return prefix + secrets.token_urlsafe(24)


def issue_tokens(username, client_id, scope):
    """Caller holds the lock."""
    access = new_token("at-")
    refresh = new_token("rt-")
    now = time.time()
    STATE.access[access] = {"username": username, "client_id": client_id, "scope": scope,
                            "exp": now + STATE.access_ttl, "revoked": False}
    STATE.refresh[refresh] = {"username": username, "client_id": client_id, "scope": scope,
                              "revoked": False}
    answer = {"token_type": "Bearer", "scope": scope, "expires_in": STATE.access_ttl,
              "ext_expires_in": STATE.access_ttl, "access_token": access, "refresh_token": refresh}
    answer.update(STATE.token_fields)
    return answer


def oauth_error(error, description):
    return 400, {"error": error, "error_description": description,
                 "error_codes": [], "timestamp": time.strftime("%Y-%m-%d %H:%M:%SZ", time.gmtime())}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "vc-test-oauth/1"

    def log_message(self, fmt, *args):  # quiet
        pass

    # --- plumbing -------------------------------------------------------
    def read_form(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace") if length else ""
        self.raw_body = body
        return {k: v[0] for k, v in urllib.parse.parse_qs(body, keep_blank_values=True).items()}

    def send_json(self, status, obj):
        data = json.dumps(obj).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def send_text(self, status, text, ctype="text/html; charset=utf-8"):
        data = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def record(self, endpoint, params):
        with STATE.lock:
            STATE.log.append({"time": time.time(), "endpoint": endpoint, "method": self.command,
                              "path": self.path, "params": params})

    def stall_if_asked(self, endpoint):
        with STATE.lock:
            deadline = time.time() + 600
            while endpoint in STATE.stall and time.time() < deadline:
                STATE.unstall.wait(timeout=1.0)

    def base_url(self):
        host, port = self.server.server_address[:2]
        return "http://%s:%d" % (host, port)

    @staticmethod
    def endpoint_of(path):
        if path.endswith("/.well-known/openid-configuration"):
            return "discovery"
        last = path.rstrip("/").rsplit("/", 1)[-1]
        return {"authorize": "authorize", "auth": "authorize", "devicecode": "devicecode",
                "token": "token"}.get(last)

    # --- dispatch -------------------------------------------------------
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        if url.path == "/control/log":
            with STATE.lock:
                return self.send_json(200, STATE.log)
        if url.path == "/device":
            self.record("device", query)
            return self.device_page(query)
        if url.path == "/introspect":
            self.record("introspect", query)
            return self.introspect(query.get("token") or self.bearer())
        endpoint = self.endpoint_of(url.path)
        if endpoint == "authorize":
            self.record(endpoint, query)
            self.stall_if_asked(endpoint)
            return self.authorize(query)
        if endpoint == "discovery":
            self.record(endpoint, query)
            self.stall_if_asked(endpoint)
            return self.discovery(url.path)
        return self.send_text(404, "not found", "text/plain")

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/control":
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else b"{}"
            return self.control(json.loads(body or b"{}"))
        form = self.read_form()
        if url.path == "/introspect":
            self.record("introspect", form)
            return self.introspect(form.get("token") or self.bearer())
        endpoint = self.endpoint_of(url.path)
        if endpoint in ("devicecode", "token"):
            self.record(endpoint, form)
            self.stall_if_asked(endpoint)
            return self.devicecode(form) if endpoint == "devicecode" else self.token(form)
        return self.send_text(404, "not found", "text/plain")

    def bearer(self):
        auth = self.headers.get("Authorization") or ""
        return auth[7:].strip() if auth.lower().startswith("bearer ") else ""

    # --- endpoints ------------------------------------------------------
    def discovery(self, path):
        authority = path[: -len("/.well-known/openid-configuration")]
        prefix = authority
        if prefix.endswith("/v2.0"):
            prefix = prefix[: -len("/v2.0")]
        base = self.base_url() + prefix
        with STATE.lock:
            issuer = STATE.issuer or self.base_url() + authority
        self.send_json(200, {
            "issuer": issuer,
            "authorization_endpoint": base + "/oauth2/v2.0/authorize",
            "token_endpoint": base + "/oauth2/v2.0/token",
            "device_authorization_endpoint": base + "/oauth2/v2.0/devicecode",
            "response_types_supported": ["code"],
            "code_challenge_methods_supported": ["S256"],
        })

    def authorize(self, q):
        redirect_uri = q.get("redirect_uri", "")
        if not is_loopback_redirect(redirect_uri):
            return self.send_text(400, "<p>AADSTS50011: The redirect URI is not a loopback address.</p>")
        state = q.get("state")
        if not q.get("client_id"):
            return self.redirect(with_query(redirect_uri, {
                "error": "invalid_request", "error_description": "client_id is missing", "state": state or ""}))
        if q.get("response_type") != "code":
            return self.redirect(with_query(redirect_uri, {
                "error": "unsupported_response_type", "error_description": "only code", "state": state or ""}))
        if q.get("code_challenge_method") != "S256" or len(q.get("code_challenge", "")) < 43:
            return self.redirect(with_query(redirect_uri, {
                "error": "invalid_request",
                "error_description": "AADSTS501491: PKCE with code_challenge_method S256 is required.",
                "state": state or ""}))
        with STATE.lock:
            mode = STATE.authorize_mode
            user = q.get("login_hint") or STATE.user
        if mode == "deny":
            return self.redirect(with_query(redirect_uri, {
                "error": "access_denied",
                "error_description": "AADSTS65004: The user declined to consent to access the app.",
                "state": state or ""}))
        code = new_token("code-")
        with STATE.lock:
            STATE.codes[code] = {"client_id": q["client_id"], "redirect_uri": redirect_uri,
                                 "challenge": q["code_challenge"], "username": user,
                                 "scope": q.get("scope", ""), "used": False}
        items = {"code": code}
        if state is not None:
            items["state"] = state + ("-tampered" if mode == "bad_state" else "")
        self.redirect(with_query(redirect_uri, items))

    def devicecode(self, form):
        if not form.get("client_id"):
            return self.send_json(*oauth_error("invalid_client", "AADSTS900144: client_id is missing."))
        with STATE.lock:
            device_code = new_token("dc-")
            user_code = "".join(secrets.choice("BCDFGHJKLMNPQRSTVWXZ") for _ in range(8))
            STATE.devices[device_code] = {
                "client_id": form["client_id"], "scope": form.get("scope", ""), "user_code": user_code,
                "expires": time.time() + STATE.device_expires, "interval": STATE.device_interval,
                "state": "pending", "username": None, "last_poll": 0.0, "polls": 0}
            interval, expires = STATE.device_interval, STATE.device_expires
            fields = dict(STATE.device_fields)
        uri = self.base_url() + "/device"
        answer = {
            "device_code": device_code, "user_code": user_code, "verification_uri": uri,
            "expires_in": expires, "interval": interval,
            "message": "To sign in, use a web browser to open the page %s and enter the code %s "
                       "to authenticate." % (uri, user_code)}
        answer.update(fields)
        self.send_json(200, answer)

    def device_page(self, q):
        with STATE.lock:
            found = [d for d in STATE.devices.values() if d["user_code"] == q.get("user_code")]
            if not found:
                return self.send_text(404, "<p>That code was not found.</p>")
            d = found[0]
            if q.get("action", "approve") == "deny":
                d["state"] = "denied"
            else:
                d["state"] = "approved"
                d["username"] = q.get("login") or STATE.user
        self.send_text(200, "<p>You have signed in. You may now close this window.</p>")

    def token(self, form):
        with STATE.lock:
            secret = STATE.client_secret
        if secret is not None and form.get("client_secret") != secret:
            return self.send_json(401, {"error": "invalid_client",
                                        "error_description": "AADSTS7000215: Invalid client secret provided."})
        grant = form.get("grant_type")
        if grant == "authorization_code":
            return self.send_json(*self.code_grant(form))
        if grant == DEVICE_GRANT:
            return self.send_json(*self.device_grant(form))
        if grant == "refresh_token":
            with STATE.lock:
                step = STATE.refresh_script.pop(0) if STATE.refresh_script else None
            if step == "http_503":
                return self.send_text(503, "<h1>Service Unavailable</h1>")
            if step is not None:
                status, body = oauth_error(step, "Scripted answer: %s." % step)
                return self.send_json(500 if step == "server_error" else status, body)
            return self.send_json(*self.refresh_grant(form))
        return self.send_json(*oauth_error("unsupported_grant_type", "grant_type %r" % grant))

    def code_grant(self, form):
        with STATE.lock:
            c = STATE.codes.get(form.get("code", ""))
            if c is None or c["used"]:
                return oauth_error("invalid_grant", "AADSTS70000: The code is unknown or already used.")
            c["used"] = True
            if c["client_id"] != form.get("client_id"):
                return oauth_error("invalid_grant", "AADSTS70000: The code was issued to another client.")
            if c["redirect_uri"] != form.get("redirect_uri"):
                return oauth_error("invalid_grant", "AADSTS50148: The redirect_uri does not match.")
            if b64url_sha256(form.get("code_verifier", "")) != c["challenge"]:
                return oauth_error("invalid_grant", "AADSTS50148: The code_verifier does not match the "
                                                    "code_challenge supplied in the authorization request.")
            return 200, issue_tokens(c["username"], c["client_id"], c["scope"])

    def device_grant(self, form):
        with STATE.lock:
            d = STATE.devices.get(form.get("device_code", ""))
            if d is None or d["client_id"] != form.get("client_id"):
                return oauth_error("bad_verification_code", "The device code is unknown.")
            now = time.time()
            too_fast = d["polls"] > 0 and now - d["last_poll"] < d["interval"] - 0.2
            d["polls"] += 1
            d["last_poll"] = now
            step = STATE.device_script.pop(0) if STATE.device_script else None
            if step == "approve":
                d["state"], d["username"] = "approved", d["username"] or STATE.user
            elif step == "deny":
                d["state"] = "denied"
            elif step == "expire":
                d["expires"] = 0
            elif step == "slow_down" or too_fast:
                d["interval"] += 5
                return oauth_error("slow_down", "Polling too fast; wait longer between requests.")
            elif step is not None:
                return oauth_error(step, "Scripted answer.")
            if now > d["expires"]:
                return oauth_error("expired_token", "AADSTS70020: The provided value for the input parameter "
                                                    "'device_code' is not valid. This device code has expired.")
            if d["state"] == "denied":
                return oauth_error("authorization_declined", "AADSTS70000: The user declined the sign-in.")
            if d["state"] == "pending":
                return oauth_error("authorization_pending", "AADSTS70016: OAuth 2.0 device flow error. "
                                                            "Authorization is pending. Continue polling.")
            if d["state"] == "used":
                return oauth_error("invalid_grant", "The device code has already been used.")
            d["state"] = "used"
            return 200, issue_tokens(d["username"], d["client_id"], d["scope"])

    def refresh_grant(self, form):
        with STATE.lock:
            r = STATE.refresh.get(form.get("refresh_token", ""))
            if r is None or r["revoked"] or r["client_id"] != form.get("client_id"):
                return oauth_error("invalid_grant", "AADSTS70008: The refresh token has expired or been revoked.")
            return 200, issue_tokens(r["username"], r["client_id"], form.get("scope") or r["scope"])

    def introspect(self, token):
        with STATE.lock:
            a = STATE.access.get(token or "")
            if a is None or a["revoked"] or time.time() >= a["exp"]:
                return self.send_json(200, {"active": False})
            return self.send_json(200, {"active": True, "username": a["username"], "client_id": a["client_id"],
                                        "scope": a["scope"], "exp": int(a["exp"]), "token_type": "Bearer"})

    def control(self, cmd):
        with STATE.lock:
            if cmd.get("reset"):
                STATE.reset()
            if "user" in cmd:
                STATE.user = cmd["user"]
            if "authorize" in cmd:
                STATE.authorize_mode = cmd["authorize"]
            if "access_ttl" in cmd:
                STATE.access_ttl = int(cmd["access_ttl"])
            if "device_interval" in cmd:
                STATE.device_interval = int(cmd["device_interval"])
            if "device_expires" in cmd:
                STATE.device_expires = int(cmd["device_expires"])
            if "device_script" in cmd:
                STATE.device_script = list(cmd["device_script"])
            if "client_secret" in cmd:
                STATE.client_secret = cmd["client_secret"]
            if "refresh_script" in cmd:
                STATE.refresh_script = list(cmd["refresh_script"])
            if "token_fields" in cmd:
                STATE.token_fields = dict(cmd["token_fields"])
            if "device_fields" in cmd:
                STATE.device_fields = dict(cmd["device_fields"])
            if "issuer" in cmd:
                STATE.issuer = cmd["issuer"]
            if cmd.get("expire") == "all":
                for a in STATE.access.values():
                    a["exp"] = 0
            if cmd.get("revoke") == "all":
                for a in STATE.access.values():
                    a["revoked"] = True
                for r in STATE.refresh.values():
                    r["revoked"] = True
            if "stall" in cmd:
                s = cmd["stall"]
                STATE.stall = set(ENDPOINTS) if s == "all" else set(s or [])
                STATE.unstall.notify_all()
            if cmd.get("reset"):
                STATE.unstall.notify_all()
        self.send_json(200, {"ok": True})


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that gave up (a test's time-out) is expected; stay quiet.
        if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            super().handle_error(request, client_address)


def main():
    ap = argparse.ArgumentParser(description="OAuth 2.0 provider stand-in for the tests")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file")
    args = ap.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % port)
        import os
        os.replace(args.port_file + ".tmp", args.port_file)
    print("port %d" % port, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
