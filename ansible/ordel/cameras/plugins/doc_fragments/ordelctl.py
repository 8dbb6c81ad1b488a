# -*- coding: utf-8 -*-
# Copyright 2026 Ordel Toolkits team
# SPDX-License-Identifier: LicenseRef-proprietary
"""What every module of the collection shares: ordelctl on the managed host."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  executable:
    description:
      - The C(ordelctl) to run on the managed host.
      - A bare name is looked up on the managed host's C(PATH); a path is used as it is.
      - Either must be an executable file; a directory is refused.
    type: str
    default: ordelctl
requirements:
  - C(ordelctl) on the managed host, from the C(ordel-toolkits) package.
notes:
  - The module runs C(ordelctl ... --json) on the managed host and reads its JSON lines; which
    cameras are touched, skipped or refused is decided by C(ordelctl), as on the command line.
  - A broadcast does not cross a router, so the managed host is one on the cameras' network.
'''
