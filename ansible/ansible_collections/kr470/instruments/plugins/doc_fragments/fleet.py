# -*- coding: utf-8 -*-
# Copyright 2026 the KR470A firmware update tools team.
# The options every module of the collection shares: which instruments, where
# the logs go and how kr470-fleet is found and run.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  address:
    description:
      - The address of one instrument, as C(kr470-fleet) takes it
        (C(ASRL1::INSTR), C(ASRL/dev/ttyUSB0::INSTR),
        C(TCPIP0::192.0.2.7::5025::SOCKET), C(GPIB0::10), or an alias of the
        instrument-I/O configuration).
      - Give either I(address) or I(instruments).
    type: str
  instruments:
    description:
      - The instruments of the host, each with its address and, when
        given, the serial number it must report (one that reports another
        is refused after its identification).
      - Give either I(address) or I(instruments).
    type: list
    elements: dict
    suboptions:
      address:
        description: The instrument's address, as for I(address).
        type: str
        required: true
      serial:
        description: The serial number the instrument must report.
        type: str
  log_dir:
    description:
      - The folder on the host for the instruments' logs (appended to, one
        run after another), the plan the module hands C(kr470-fleet)
        (C(kr470-fleet.plan)) and the run's report (C(kr470-fleet.json)).
        The module writes nothing anywhere else.
      - An absolute path; made when missing. Two tasks running at once on
        one host need two log folders.
    type: path
    default: ~/fleet-logs
  executable:
    description:
      - The C(kr470-fleet) program on the host. Default, the one found on
        the search path.
    type: path
  io_config:
    description:
      - The instrument-I/O configuration file on the host (serial line
        settings, aliases, GPIB boards), given to C(kr470-fleet) as
        C(KIO_CONFIG). Default, the tool's own choice (C(KIO_CONFIG) of the
        environment, else C(~/.config/instrument-io/config.ini)).
    type: path
  jobs:
    description:
      - How many instruments are handled at once. Default, one for each
        distinct port or host, at most 64.
    type: int
  reply_timeout_ms:
    description:
      - How long to wait for each reply, in milliseconds. Default, the
        update procedure's 12000.
    type: int
requirements:
  - C(kr470-fleet) on the host (package C(kr470-firmware-tools)).
'''
