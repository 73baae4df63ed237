#!/bin/bash
# The Ansible playbook and role for fleets must at least parse: there is no
# Windows host here to run them against. Uses Debian's ansible (bootstrap.sh).
set -euo pipefail
cd "$(dirname "$0")/../deploy/ansible"
if ! command -v ansible-playbook >/dev/null; then
  echo "check-ansible: ansible-playbook is missing (scripts/bootstrap.sh installs Debian's ansible)"
  exit 1
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export ANSIBLE_LOCAL_TEMP="$tmp" ANSIBLE_NOCOLOR=1
for state in present absent; do
  ansible-playbook --syntax-check -i inventory.example.yml korvex-patch.yml \
    -e korvex_patch_id=KB-CHECK -e korvex_state="$state" -e korvex_package_dir=/nonexistent
done
echo "check-ansible: ok"
