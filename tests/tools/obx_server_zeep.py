"""Calls obx-server's three operations from its WSDL with a standard SOAP toolkit.

usage: obx_server_zeep.py WSDL_URL COMPUTER_CODE VERSION STATUS_INFOS RESULT_INFOS

Prints one line per operation: "<operation> <key>=<value>" for every item of
every map of the answer, in order ("" for an empty value).
"""
import sys

from zeep import Client


def message(items):
    return {"map": [{"item": [{"key": k, "value": v, "type": "string"} for k, v in items]}]}


def show(operation, answer):
    for m in answer or []:
        for item in m["item"] or []:
            value = item["value"] if item["value"] is not None else ""
            print("%s %s=%s" % (operation, item["key"], value))


def main():
    wsdl, code, version, status_infos, result_infos = sys.argv[1:6]
    service = Client(wsdl).service
    show("updatePatchPolicy", service.updatePatchPolicy(message=message(
        [("computerCode", code), ("userName", "zeep"), ("version", version),
         ("osVersion", "winxp")])))
    show("uploadExecuteStatus",
         service.uploadExecuteStatus(message=message([("infos", status_infos)])))
    show("uploadExecuteResult",
         service.uploadExecuteResult(message=message([("infos", result_infos)])))


if __name__ == "__main__":
    main()
